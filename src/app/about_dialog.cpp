#include "app/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "rzt2_version.h"
#include "ui/common/app_icon.h"

namespace rzt2 {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About rzt2tool"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(applicationIcon().pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  auto* text = new QLabel(QStringLiteral("<b>Norvexa RZT2 Converter Tool</b><br>"
                                         "Version %1<br>"
                                         "rzt2tool: map pictures to RZT2 map files and back<br>"
                                         "Copyright (C) Velmora<br>"
                                         "Help: the manual pages rzt2tool(1) and rzt2(1)")
                              .arg(QLatin1String(kVersion)),
                          this);
  text->setObjectName(QStringLiteral("text"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace rzt2
