// The simulator page. It draws only what the devices report: each phone from the state
// its server gives (with every command's answer, and again after events), and the
// timeline, the decision panel and the sentences from the typed events of the device's
// event stream, whose sentences the server builds. With the compare view, a stock device
// stands beside the Kestrel one and the same controls drive both at the same moment.
"use strict";

const $ = (id) => document.getElementById(id);

// A refusal is an answer, not a failure of the page: the server gives it with status 200
// when asked (a browser reports every 4xx answer as an error of the page).
const refusalHeaders = { "Content-Type": "application/json", "Kestrel-Refusal-Status": "200" };

async function getJson(path, timeout = 0) {
  const abort = new AbortController();
  const timer = timeout ? setTimeout(() => abort.abort(), timeout) : null;
  try {
    const response = await fetch(path, { cache: "no-store", signal: abort.signal });
    const body = await response.json();
    if (!response.ok) throw new Error(body.error || response.statusText);
    return body;
  } finally {
    if (timer) clearTimeout(timer);
  }
}

async function postJson(path, payload) {
  try {
    const response = await fetch(path, { method: "POST", headers: refusalHeaders, body: JSON.stringify(payload) });
    try {
      return await response.json();
    } catch {
      return { ok: false, error: response.statusText || "the server's answer was no JSON" };
    }
  } catch {
    return { ok: false, error: "the server does not answer", unreachable: true };
  }
}

// The words the server writes the state in (GET /api/words): each two-state fact's word when
// it holds ("yes") and when it does not ("no"), and SpringBoard's states. The page keeps no
// copy of them.
let words = null;

// Whether the state says of the fact that it holds (or, with holds false, that it does not).
const says = (state, fact, holds) => state[fact] === words[fact][holds ? "yes" : "no"];
const isRunning = (state) => state.springboard === words.springboard.running;

async function loadWords() {
  for (;;) {
    try {
      return await getJson("/api/words", 3000);
    } catch {
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

function setText(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

function setFlag(element, name, value) {
  if (element.getAttribute(name) !== value) element.setAttribute(name, value);
}

const knownApps = {
  "com.apple.mobilemail": { name: "Mail", message: "Lunch on Friday? Let me know what suits you.", color: "#0a7cff" },
  "com.apple.MobileSMS": { name: "Messages", message: "On my way, see you in ten minutes.", color: "#28c840" },
  "com.apple.mobilecal": { name: "Calendar", message: "Team meeting in 15 minutes.", color: "#ff3b30" },
  "com.apple.news": { name: "News", message: "Today's top stories are ready.", color: "#ff2d55" },
  "com.apple.donotdisturb": { name: "Do Not Disturb", message: "Notifications are silenced while Do Not Disturb is on.", color: "#5e5ce6" },
};

function appFor(section) {
  if (section === null) return { name: "No section", message: "A notification without a section identifier.", color: "#8e8e93" };
  return knownApps[section] || { name: section, message: "New notification.", color: "#636366" };
}

const kindWords = {
  kept: "Lock screen kept", dismissed: "Lock screen dismissed", waiting: "Waiting", passed: "Passed through",
  failed: "Did not unlock", retry: "Retrying", info: "Device",
};

function stampText(seconds) {
  return `t=${seconds.toFixed(3)}`;
}

const shownNotifications = 4;
const maxTimelineLines = 1000;

// ---- One device: its phone, its panel, its timeline ----

class Device {
  constructor(info) {
    this.name = info.name;
    this.label = info.label;
    this.api = info.api;
    this.hasPane = info.pane;
    this.state = null;
    this.stopped = false;
    this.brief = null;
    this.inFlight = 0;
    this.eventsWhileInFlight = false;
    this.lastId = 0;
    this.count = 0;
    this.pending = [];
    this.flushTimer = null;

    this.card = $("device-template").content.firstElementChild.cloneNode(true);
    this.card.id = `device-${this.name}`;
    this.card.dataset.device = this.name;
    this.phone = this.card.querySelector(".phone");
    this.phone.id = `phone-${this.name}`;
    setText(this.card.querySelector(".device-title"), this.label);
    this.part = (name) => this.card.querySelector(`.${name}`);
    $("phones").append(this.card);

    this.timelineCard = $("timeline-template").content.firstElementChild.cloneNode(true);
    this.timelineCard.id = `timeline-${this.name}`;
    setText(this.timelineCard.querySelector(".timeline-title"), `Timeline: ${this.label}`);
    this.timeline = this.timelineCard.querySelector(".timeline");
    this.timeline.setAttribute("aria-label", `Timeline of the ${this.label} device`);
    const download = this.timelineCard.querySelector(".download");
    download.href = `${this.api}session.scenario`;
    download.setAttribute("download", this.name === "stock" ? "kestrel-stock-session.scenario" : "kestrel-session.scenario");
    setText(download, `Download the ${this.label} session as a scenario`);
    $("timelines").append(this.timelineCard);

    this.stateFetch = null;
    this.stateAgain = false;
  }

  refreshState() {
    if (this.stateFetch) {
      this.stateAgain = true;
      return this.stateFetch;
    }
    this.stateFetch = (async () => {
      try {
        do {
          this.stateAgain = false;
          try {
            this.drawState(await getJson(`${this.api}state`, 3000));
          } catch {
            // The event stream says when the device has stopped; a state that cannot be read
            // now is read again after the next event.
          }
        } while (this.stateAgain);
      } finally {
        this.stateFetch = null;
      }
    })();
    return this.stateFetch;
  }

  async run(command) {
    this.inFlight++;
    this.eventsWhileInFlight = false;
    let answer;
    try {
      answer = await postJson(`${this.api}command`, { command });
      if (answer.state) this.drawState(answer.state);
    } finally {
      this.inFlight--;
    }
    if (answer.unreachable) this.check();
    else if (this.eventsWhileInFlight || !answer.state) this.refreshState();
    return answer;
  }

  drawClock() {
    const state = this.state;
    if (!state) return;
    let text;
    if (state.clock === "virtual") {
      const total = Math.floor(state.time);
      text = `${Math.floor(total / 60)}:${String(total % 60).padStart(2, "0")}`;
      setText(this.part("lock-date"), `Virtual time: ${state.time.toFixed(3)} s`);
    } else {
      text = new Date().toLocaleTimeString([], { hour: "numeric", minute: "2-digit" }).replace(/\s?[AP]M$/i, "");
      setText(this.part("lock-date"), new Date().toLocaleDateString([], { weekday: "long", day: "numeric", month: "long" }));
    }
    setText(this.part("sb-time"), text);
    setText(this.part("lock-time"), text);
    setText(this.part("home-time"), text);
  }

  drawNotifications(list) {
    const holder = this.part("notifications");
    const key = JSON.stringify(list);
    if (holder.dataset.key === key) return;
    holder.dataset.key = key;
    holder.replaceChildren();
    // As the lock screen shows them: the newest first.
    const newestFirst = list.slice().reverse();
    newestFirst.slice(0, shownNotifications).forEach((section, index) => {
      const app = appFor(section);
      const item = document.createElement("li");
      item.className = "notification";
      item.dataset.section = section === null ? "" : section;
      const icon = Object.assign(document.createElement("span"), { className: "app-icon", textContent: app.name.charAt(0).toUpperCase() });
      icon.style.background = app.color;
      icon.setAttribute("aria-hidden", "true");
      item.append(icon,
        Object.assign(document.createElement("span"), { className: "app-name", textContent: app.name }),
        Object.assign(document.createElement("span"), { className: "when", textContent: index === 0 ? "now" : "earlier" }),
        Object.assign(document.createElement("span"), { className: "message", textContent: app.message }));
      holder.append(item);
    });
    if (list.length > shownNotifications) {
      const more = list.length - shownNotifications;
      holder.append(Object.assign(document.createElement("li"), { className: "notification more", textContent: `${more} earlier notification${more === 1 ? "" : "s"}` }));
    }
  }

  summary(state) {
    if (this.stopped) return "The device stopped: its server no longer answers.";
    if (!isRunning(state)) return state.springboard === words.springboard.notBooted ? "The device has not booted." : "SpringBoard is restarting…";
    const parts = [];
    if (says(state, "lockscreen", false)) parts.push("Home screen: the lock screen was dismissed");
    else parts.push(says(state, "device", true) ? "Lock screen shown, device locked" : "Lock screen shown, device unlocked");
    if (says(state, "audio", true)) parts.push("music playing");
    if (state.flashlight !== 0) parts.push("flashlight on");
    const count = state.notifications.length;
    if (count) {
      const notices = state.notifications.filter((section) => section === "com.apple.donotdisturb").length;
      parts.push(`${count} notification${count === 1 ? "" : "s"} waiting${notices ? ` (${notices === count ? (count === 1 ? "the" : "all") : notices} Do Not Disturb notice${notices === 1 ? "" : "s"})` : ""}`);
    }
    return parts.join(" · ");
  }

  drawState(state) {
    this.state = state;
    const phone = this.phone;
    const running = isRunning(state);
    setFlag(phone, "data-springboard", state.springboard);
    setFlag(phone, "data-generation", String(state.generation));
    setText(this.part("phone-summary"), this.summary(state));
    if (running) {
      setFlag(phone, "data-lockscreen", state.lockscreen);
      setFlag(phone, "data-device", state.device);
      setFlag(phone, "data-flashlight", state.flashlight !== 0 ? "on" : "off");
      setFlag(phone, "data-audio", state.audio);
      setFlag(phone, "data-notifications", String(state.notifications.length));
      const companion = says(state, "companion", true);
      const locked = says(state, "device", true);
      setFlag(phone, "data-aod", companion && locked && says(state, "lockscreen", true) ? "yes" : "no");
      setText(this.part("padlock-text"), locked ? "Locked" : "Unlocked");
      setText(this.part("lock-hint"), locked ? "Look at the phone to unlock" : "Unlocked: swipe up to open");
      this.part("music").hidden = !says(state, "audio", true);
      this.part("sb-flashlight").toggleAttribute("hidden", state.flashlight === 0);
      this.drawNotifications(state.notifications);
      this.drawClock();
    } else {
      setText(this.part("restarting-text"), state.springboard === words.springboard.notBooted ? "The device has not booted" : "SpringBoard is starting");
    }
    drawControls();
  }

  // What the device's latest explained event said, in the panel.
  drawPanel(kind, sentence, seconds) {
    const box = this.part("decision");
    box.dataset.kind = kind;
    const badge = this.part("decision-badge");
    badge.replaceChildren(kindWords[kind] || kind);
    if (seconds !== undefined) badge.append(" · ", Object.assign(document.createElement("span"), { className: "stamp", textContent: stampText(seconds) }));
    setText(this.part("decision-text"), sentence);
  }

  clearTimeline() {
    this.pending = [];
    this.timeline.replaceChildren();
    this.count = 0;
    this.brief = null;
  }

  // Events come in bursts (a command's, a restart's): they are drawn together, a moment
  // later, so the phone's own redraw is not held up by the timeline's.
  addEvent(event) {
    this.pending.push(event);
    if (!this.flushTimer) this.flushTimer = setTimeout(() => this.flushEvents(), 15);
  }

  flushEvents() {
    this.flushTimer = null;
    const events = this.pending;
    this.pending = [];
    const list = this.timeline;
    const atBottom = list.scrollHeight - list.scrollTop - list.clientHeight < 40;
    const items = document.createDocumentFragment();
    let latest = null;
    for (const event of events) {
      const item = document.createElement("li");
      item.dataset.type = event.type;
      item.append(Object.assign(document.createElement("span"), { className: "stamp", textContent: stampText(event.t) }),
        Object.assign(document.createElement("span"), { className: "text", textContent: event.text }));
      if (event.sentence) {
        item.classList.add("explained");
        const explanation = document.createElement("span");
        explanation.className = "explain";
        explanation.append(Object.assign(document.createElement("span"), { className: `kind ${event.kind}`, textContent: kindWords[event.kind] || event.kind }), event.sentence);
        item.append(explanation);
        latest = event;
      }
      items.append(item);
    }
    list.append(items);
    if (latest) {
      this.drawPanel(latest.kind, latest.sentence, latest.t);
      this.brief = latest.brief;
      drawCompareSummary();
    }
    // A long session keeps its whole timeline in the downloadable scenario; the page shows the latest.
    while (list.childElementCount > maxTimelineLines) list.firstElementChild.remove();
    this.count += events.length;
    setText(this.timelineCard.querySelector(".timeline-count"), `${this.count} event${this.count === 1 ? "" : "s"}`);
    if (atBottom) list.scrollTop = list.scrollHeight;
  }

  listen() {
    const stream = new EventSource(`${this.api}events`);
    stream.onopen = () => {
      if (this.stopped) this.resume();
      drawConnection();
    };
    stream.onerror = () => this.check();
    stream.onmessage = (message) => {
      const id = Number(message.lastEventId);
      if (id <= this.lastId) this.clearTimeline(); // a new server: its timeline starts again
      this.lastId = id;
      let event;
      try {
        event = JSON.parse(message.data);
      } catch {
        return;
      }
      this.addEvent(event);
      if (this.inFlight) this.eventsWhileInFlight = true;
      else this.refreshState();
    };
    this.stream = stream;
  }

  // The stream broke: a device whose server does not answer has stopped.
  async check() {
    if (this.checking || this.stopped) return;
    this.checking = true;
    try {
      await getJson(`${this.api}state`, 1500);
    } catch {
      this.stop();
    } finally {
      this.checking = false;
    }
    drawConnection();
  }

  stop() {
    this.stopped = true;
    setFlag(this.phone, "data-stopped", "yes");
    setText(this.part("phone-summary"), this.summary(this.state || {}));
    this.drawPanel("info", "The device stopped: what the phone showed last is greyed out, and nothing here acts on it any more.");
    this.brief = "stopped";
    drawCompareSummary();
    drawControls();
  }

  resume() {
    this.stopped = false;
    setFlag(this.phone, "data-stopped", "no");
    this.refreshState();
  }
}

let devices = [];

const live = () => devices.filter((device) => !device.stopped && device.state && isRunning(device.state));
const kestrel = () => devices.find((device) => device.name === "kestrel");

function drawConnection() {
  const connection = $("connection");
  const stopped = devices.length && devices.every((device) => device.stopped);
  const some = devices.some((device) => device.stopped);
  connection.dataset.connected = stopped ? "stopped" : some ? "partly" : "yes";
  setText(connection.querySelector(".text"), stopped ? "The device stopped" : some ? "A device stopped" : "Live");
}

function drawCompareSummary() {
  const summary = $("compare-summary");
  if (devices.length < 2) return;
  const said = devices.filter((device) => device.brief);
  summary.hidden = !said.length;
  setText(summary, said.map((device) => `${device.label}: ${device.brief}`).join(" · "));
}

// ---- Controls: what they offer follows what the phones show ----

// The phones a swipe up opens: unlocked, with the lock screen still up.
const swipeable = (device) => device.state && says(device.state, "device", false) && says(device.state, "lockscreen", true);

function drawControls() {
  const phones = live();
  const main = kestrel();
  const state = main && main.state && isRunning(main.state) ? main.state : phones[0] && phones[0].state;

  const face = $("face-match");
  const allOpen = phones.length && phones.every((device) => says(device.state, "lockscreen", false));
  setText(face, allOpen ? "Face match (already open: changes nothing)" : "Face match");
  face.title = allOpen ? "The phone shows its home screen: a match makes an attempt that has no lock screen to dismiss." : "";

  const swipe = $("swipe-up");
  const open = phones.filter(swipeable);
  setFlag(swipe, "aria-disabled", String(!open.length));
  let why = "";
  if (!open.length) {
    if (phones.some((device) => says(device.state, "device", true)))
      why = "Swiping up opens a phone that is unlocked with its lock screen still up; a locked phone would ask for its passcode.";
    else if (phones.length) why = "The lock screen is already gone.";
  } else if (open.length < phones.length) {
    why = `Opens ${open.map((device) => device.label).join(" and ")}: the other phone has nothing to swipe away.`;
  }
  setText($("swipe-up-why"), why);

  if (state) {
    const music = $("music-toggle");
    const playing = says(state, "audio", true);
    setFlag(music, "aria-pressed", String(playing));
    music.dataset.command = `audio ${words.audio[playing ? "no" : "yes"]}`;
    setText(music, playing ? "Music playing: stop it" : "Play music in another app");
    const light = $("flashlight-toggle");
    const lit = state.flashlight !== 0;
    setFlag(light, "aria-pressed", String(lit));
    light.dataset.command = lit ? "flashlight 0" : "flashlight 1";
    setText(light, lit ? "Flashlight on: turn it off" : "Turn the flashlight on");
    for (const device of devices) device.part("flashlight").dataset.command = light.dataset.command;
    $("aod-controls").hidden = !phones.some((device) => says(device.state, "companion", true));
    $("clock-controls").hidden = state.clock !== "virtual";
    if (state.clock === "virtual") setText($("virtual-now"), `The clock stands at ${state.time.toFixed(3)} s; it moves only when you wait.`);
    setText($("clock-mode"), `${state.clock === "virtual" ? "Virtual" : "Real"} time · iOS ${state.ios || "?"} · ${devices.length > 1 ? "stock iOS beside Kestrel" : `SpringBoard generation ${state.generation}`}`);
  }
}

function say(text, kind) {
  const status = $("command-status");
  status.dataset.kind = kind;
  setText(status, text);
}

// Runs a command on every phone (or those `which` picks) at the same moment.
async function runOnPhones(command, which = () => true) {
  const targets = devices.filter((device) => !device.stopped && which(device));
  if (!targets.length) {
    say(`${command}: no phone to run it on`, "error");
    return [];
  }
  const answers = await Promise.all(targets.map((device) => device.run(command)));
  const refused = answers.map((answer, index) => [targets[index], answer]).filter(([, answer]) => !answer.ok);
  if (!refused.length) say(command, "ok");
  else if (targets.length === 1) say(`${command}: ${refused[0][1].error}`, "error");
  else say(`${command}: ${refused.map(([device, answer]) => `${device.label}: ${answer.error}`).join("; ")}`, "error");
  return answers;
}

function swipeUp() {
  const open = live().filter(swipeable);
  if (!open.length) {
    say(`Swipe up: ${$("swipe-up-why").textContent || "nothing to swipe away"}`, "error");
    return;
  }
  // A passcode-free dismissal, as the home indicator gives one on an unlocked phone.
  runOnPhones("host ui-locked no", swipeable);
}

function bindCommands() {
  document.addEventListener("click", (event) => {
    if (event.target.closest("[data-swipe]")) {
      swipeUp();
      return;
    }
    const target = event.target.closest("[data-command]");
    if (!target || target.disabled) return;
    const command = target.dataset.command;
    if (command.startsWith("aod ")) runOnPhones(command, (device) => device.state && says(device.state, "companion", true));
    else runOnPhones(command);
  });
  $("swipe-up").addEventListener("click", swipeUp);
  $("notification-app").addEventListener("change", () => {
    $("notification-other-row").hidden = $("notification-app").value !== "other";
  });
  $("notification-add").addEventListener("click", async () => {
    let section = $("notification-app").value;
    if (section === "other") section = $("notification-other").value.trim();
    if (!section) {
      say("Type the app's identifier first.", "error");
      $("notification-other").focus();
      return;
    }
    // The server writes the command: it knows which identifiers the scenario language must quote.
    let command;
    try {
      command = (await getJson(`/api/notification-command?${new URLSearchParams({ section })}`)).command;
    } catch (error) {
      say(`Add a notification: ${error.message}`, "error");
      return;
    }
    runOnPhones(command);
  });
  $("wait-custom").addEventListener("click", () => runOnPhones(`wait ${$("wait-seconds").value || 0}`));
  $("command-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const text = $("command-text").value.trim();
    if (!text) {
      say("Type a scenario command first, for example: notification add com.example.chat", "error");
      return;
    }
    await runOnPhones(text);
    // A command may have changed the settings the pane shows.
    refreshPane();
  });
}

// ---- The Settings pane (the Kestrel device's) ----

let paneShape = null;
let paneBusy = false;

async function refreshPane() {
  if (!kestrel() || !kestrel().hasPane) return;
  try {
    drawPane((await getJson("/api/pane")).rows);
  } catch (error) {
    paneShape = null;
    $("pane").replaceChildren(Object.assign(document.createElement("p"), { className: "subtle", textContent: `The pane could not be loaded: ${error.message}` }));
  }
}

async function changePane(payload, label) {
  paneBusy = true;
  const answer = await postJson("/api/pane", payload);
  paneBusy = false;
  if (answer.ok) say(label, "ok");
  else say(`${label}: ${answer.error}`, "error");
  await Promise.all([refreshPane(), kestrel().refreshState()]);
}

function formatNumber(value) {
  return Number.isInteger(value) ? value.toFixed(1) : String(Math.round(value * 100) / 100);
}

function cellFor(row, index) {
  const cell = document.createElement("li");
  cell.className = `cell cell-${row.type}`;
  const label = row.label || row.key || "";
  const id = `pane-row-${index}`;
  if (row.type === "switch") {
    const text = Object.assign(document.createElement("span"), { className: "cell-label", id: `${id}-label`, textContent: label });
    const toggle = document.createElement("button");
    toggle.type = "button";
    toggle.className = "switch";
    toggle.setAttribute("role", "switch");
    toggle.setAttribute("aria-labelledby", `${id}-label`);
    toggle.dataset.key = row.key;
    toggle.innerHTML = '<span class="mark mark-on" aria-hidden="true">I</span><span class="mark mark-off" aria-hidden="true">O</span>';
    // The switch keeps keyboard focus while its change goes through: it is never disabled.
    toggle.addEventListener("click", () => {
      if (toggle.getAttribute("aria-busy") === "true") return;
      const on = toggle.getAttribute("aria-checked") !== "true";
      toggle.setAttribute("aria-busy", "true");
      changePane({ key: row.key, value: on }, `${label}: ${on ? "on" : "off"}`);
    });
    cell.append(text, toggle);
  } else if (row.type === "slider") {
    const text = Object.assign(document.createElement("label"), { className: "cell-label", htmlFor: id, textContent: label });
    const output = document.createElement("output");
    output.htmlFor = id;
    const slider = document.createElement("input");
    Object.assign(slider, { type: "range", id, min: row.min ?? 0, max: row.max ?? 10, step: 0.1 });
    slider.dataset.key = row.key;
    slider.addEventListener("input", () => { output.textContent = `${formatNumber(Number(slider.value))} s`; });
    slider.addEventListener("change", () => changePane({ key: row.key, value: Number(slider.value) }, `${label}: ${slider.value} s`));
    cell.append(text, output, slider);
  } else if (row.type === "button") {
    const button = document.createElement("button");
    button.type = "button";
    button.textContent = label;
    button.dataset.action = row.action;
    button.addEventListener("click", () => changePane({ action: row.action }, `${label} pressed`));
    cell.append(button);
  } else {
    cell.append(Object.assign(document.createElement("span"), { className: "cell-label", textContent: label }),
      Object.assign(document.createElement("span"), { className: "subtle cell-value" }));
  }
  cell.dataset.row = String(index);
  return cell;
}

// The rows' values, drawn into cells that already stand for them.
function fillPane(rows) {
  const pane = $("pane");
  rows.forEach((row, index) => {
    const cell = pane.querySelector(`[data-row="${index}"]`);
    if (!cell) return;
    if (row.type === "switch") {
      const toggle = cell.querySelector(".switch");
      setFlag(toggle, "aria-checked", String(row.value === true));
      toggle.removeAttribute("aria-busy");
    } else if (row.type === "slider") {
      const slider = cell.querySelector("input");
      const value = typeof row.value === "number" ? row.value : row.min ?? 0;
      if (Number(slider.value) !== value) slider.value = value;
      setText(cell.querySelector("output"), `${formatNumber(value)} s`);
    } else if (row.type !== "button" && "value" in row) {
      setText(cell.querySelector(".cell-value"), String(row.value ?? ""));
    }
  });
}

function drawPane(rows) {
  const shape = JSON.stringify(rows.map((row) => [row.type, row.key, row.label, row.action, row.text, row.note]));
  // The same rows as before: only their values change, and focus stays where it is.
  if (shape === paneShape) {
    fillPane(rows);
    return;
  }
  const pane = $("pane");
  const active = document.activeElement;
  const focused = active && pane.contains(active) ? active.dataset.key || active.dataset.action : null;
  const parts = [];
  let group = null;
  let note = null;
  const close = () => {
    if (group && group.children.length) parts.push(group);
    if (note) parts.push(Object.assign(document.createElement("p"), { className: "note", textContent: note }));
    group = null;
    note = null;
  };
  rows.forEach((row, index) => {
    if (row.type === "header") {
      close();
      const [title, subtitle] = row.text.split(" / ");
      const banner = document.createElement("div");
      banner.className = "banner";
      banner.append(Object.assign(document.createElement("img"), { src: "/assets/icon.svg", alt: "" }),
        Object.assign(document.createElement("div"), { className: "title", textContent: title || "" }),
        Object.assign(document.createElement("div"), { className: "subtitle", textContent: subtitle || "" }));
      parts.push(banner);
      note = row.note || null;
      group = Object.assign(document.createElement("ul"), { className: "group" });
    } else if (row.type === "footer") {
      close();
      parts.push(Object.assign(document.createElement("p"), { className: "pane-footer", textContent: row.text }));
    } else if (row.type === "group") {
      close();
      if (row.label) parts.push(Object.assign(document.createElement("h3"), { className: "group-label", textContent: row.label }));
      group = Object.assign(document.createElement("ul"), { className: "group" });
      note = row.note || null;
    } else {
      if (!group) group = Object.assign(document.createElement("ul"), { className: "group" });
      group.append(cellFor(row, index));
    }
  });
  close();
  pane.replaceChildren(...parts);
  paneShape = shape;
  fillPane(rows);
  if (focused) {
    const again = pane.querySelector(`[data-key="${CSS.escape(focused)}"], [data-action="${CSS.escape(focused)}"]`);
    if (again) again.focus();
  }
}

// ---- Start ----

async function start() {
  words = await loadWords();
  let list;
  try {
    list = (await getJson("/api/devices")).devices;
  } catch {
    list = [{ name: "kestrel", label: "Kestrel", api: "/api/", pane: true }];
  }
  devices = list.map((info) => new Device(info));
  $("layout").dataset.compare = devices.length > 1 ? "yes" : "no";
  if (devices.length > 1) document.title = "Kestrel simulator: stock iOS beside Kestrel";
  bindCommands();
  await refreshPane();
  for (const device of devices) {
    device.refreshState();
    device.listen();
  }
  setInterval(() => devices.forEach((device) => device.drawClock()), 10000);
}

start();
