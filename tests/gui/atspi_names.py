"""What a screen reader finds in rzt2tool's AT-SPI tree: the names of the
controls without text of their own, in the main window and the settings
dialog. Exits 1 naming each one missing, 77 when the program never shows up."""
import sys
import time

import pyatspi


def find_app(name):
    for _ in range(100):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    return None


def window(app, title):
    for _ in range(50):
        for candidate in app:
            if candidate.name == title:
                return candidate
        time.sleep(0.2)
    return None


def spoken(node):
    """The name a screen reader says: a combo box's is its item, so its label's."""
    if node.getRoleName() != "combo box":
        return node.name
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return ""


def nodes(node):
    yield node
    for child in node:
        yield from nodes(child)


def check(node, expected):
    found = {(each.getRoleName(), spoken(each)) for each in nodes(node)}
    missing = [control for control in expected if control not in found]
    for role, name in missing:
        print(f"{node.name}: no {role} named {name!r}")
    return not missing


app = find_app("rzt2tool")
if app is None:
    print("rzt2tool did not appear in the AT-SPI tree")
    sys.exit(77)
main = window(app, "Norvexa RZT2 Converter Tool")
ok = check(main, [("text", "Select folder"), ("tree", "Folders and files"), ("push button", "Change folder"),
                  ("filler", "Preview")])
settings_button = next(each for each in nodes(main)
                       if each.getRoleName() == "push button" and each.name == "RZT2 settings")
settings_button.queryAction().doAction(0)
settings = window(app, "RZT2 encoder settings")
ok = check(settings, [("combo box", "Additional zoom levels to store in the file"), ("combo box", "Palette"),
                      ("combo box", "Pages of multi-page files"), ("combo box", "RZT2 frames encoder algorithm"),
                      ("text", "Resolution of PDF and vector pictures"), ("text", "Destination folder"),
                      ("push button", "Choose the destination folder")]) and ok
sys.exit(0 if ok else 1)
