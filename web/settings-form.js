// The settings form, built from the settings the core declares (the
// worker's "ready" message: name, label, default, range, choices), as the
// desktop program's settings dialog shows them, and kept in localStorage
// between visits.

const storageKey = 'rzt2.settings';
// The dialog's groups; the rest of each setting comes from the core.
const mainGroup = ['ZoomLevelsMask', 'PaletteMode', 'MapSize', 'AllPages', 'MaxPages'];
const expertGroup = ['EncoderCode', 'FrameSizeX', 'FrameSizeY', 'MiniFrameSizeX', 'MiniFrameSizeY'];

function admits(setting, value) {
  if (!Number.isInteger(value)) return false;
  if (setting.choices) return setting.choices.some((choice) => choice.value === value);
  return setting.min === undefined || (value >= setting.min && value <= setting.max);
}

// The message of the desktop's dialog for a field it does not take in.
function fieldError(setting, text) {
  if (!/^[+-]?[0-9]+$/.test(text.trim())) return `${setting.label}: please enter an integer.`;
  if (!admits(setting, Number(text))) {
    return setting.min === undefined
      ? `${setting.label}: please enter a smaller number.`
      : `${setting.label}: please enter an integer between ${setting.min} and ${setting.max}.`;
  }
  return null;
}

export class SettingsForm {
  // container: the element the groups go into; declared: the settings.
  constructor(container, declared, storage = globalThis.localStorage) {
    this.storage = storage;
    this.settings = new Map(declared.map((setting) => [setting.name, setting]));
    this.controls = new Map();
    this.values = this.load();
    container.replaceChildren(
      this.group('Main settings', mainGroup),
      this.group('Expert settings (do not change)', expertGroup),
    );
  }

  // The stored values that the declarations still admit, else the defaults.
  load() {
    let stored = {};
    try {
      stored = JSON.parse(this.storage?.getItem(storageKey) ?? '{}') ?? {};
    } catch {
      stored = {};
    }
    const values = {};
    for (const setting of this.settings.values()) {
      values[setting.name] = admits(setting, stored[setting.name]) ? stored[setting.name] : setting.default;
    }
    return values;
  }

  save() {
    try {
      this.storage?.setItem(storageKey, JSON.stringify(this.values));
    } catch {
      // Storage refused (private mode, full): the settings last this visit.
    }
  }

  group(title, names) {
    const fieldset = document.createElement('fieldset');
    const legend = document.createElement('legend');
    legend.textContent = title;
    fieldset.append(legend);
    for (const name of names) {
      const setting = this.settings.get(name);
      if (setting !== undefined) fieldset.append(this.row(setting));
    }
    return fieldset;
  }

  row(setting) {
    const row = document.createElement('div');
    row.className = 'setting';
    const id = `setting-${setting.name}`;
    const label = document.createElement('label');
    label.htmlFor = id;
    label.textContent = setting.label;
    const control = setting.choices ? this.select(setting) : this.numberField(setting);
    control.id = id;
    control.name = setting.name;
    const error = document.createElement('p');
    error.className = 'field-error';
    error.id = `${id}-error`;
    error.hidden = true;
    row.append(label, control, error);
    this.controls.set(setting.name, { control, error });
    return row;
  }

  select(setting) {
    const select = document.createElement('select');
    for (const choice of setting.choices) select.add(new Option(choice.label, String(choice.value)));
    select.value = String(this.values[setting.name]);
    select.addEventListener('change', () => {
      this.values[setting.name] = Number(select.value);
      this.save();
    });
    return select;
  }

  numberField(setting) {
    const input = document.createElement('input');
    input.type = 'text';
    input.inputMode = 'numeric';
    input.autocomplete = 'off';
    input.value = String(this.values[setting.name]);
    input.title =
      setting.min === undefined
        ? `${setting.default} at first`
        : `From ${setting.min} to ${setting.max}; ${setting.default} at first`;
    input.addEventListener('input', () => this.takeIn(setting));
    return input;
  }

  // A typed field: kept when the core admits it, else its message shown.
  takeIn(setting) {
    const { control, error } = this.controls.get(setting.name);
    const message = fieldError(setting, control.value);
    error.textContent = message ?? '';
    error.hidden = message === null;
    if (message === null) {
      control.removeAttribute('aria-invalid');
      control.removeAttribute('aria-describedby');
      this.values[setting.name] = Number(control.value);
      this.save();
    } else {
      control.setAttribute('aria-invalid', 'true');
      control.setAttribute('aria-describedby', error.id);
    }
    return message;
  }

  // The settings for a job, or null after focusing the first field that
  // is not taken in (its message shows).
  current() {
    for (const [name, { control }] of this.controls) {
      if (control.tagName === 'INPUT' && this.takeIn(this.settings.get(name)) !== null) {
        control.focus();
        control.select();
        return null;
      }
    }
    return { ...this.values };
  }
}
