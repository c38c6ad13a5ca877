// The simulator page. It shows only what the device reports: after every command and
// every timeline event it asks the server for the state again and draws that. The
// Settings pane is drawn from the rows the real pane code lists.
"use strict";

const $ = (id) => document.getElementById(id);

const api = {
  async get(path) {
    const response = await fetch(path, { cache: "no-store" });
    const body = await response.json();
    if (!response.ok) throw new Error(body.error || response.statusText);
    return body;
  },
  async post(path, payload) {
    const response = await fetch(path, {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(payload),
    });
    let body;
    try {
      body = await response.json();
    } catch {
      body = { ok: false, error: response.statusText };
    }
    return body;
  },
};

let current = null; // the last state the server gave
let paneLabels = {}; // settings key -> the pane's label for it

// ---- The state, fetched again whenever something may have changed. ----

let stateFetch = null;
let stateAgain = false;

function refreshState() {
  if (stateFetch) {
    stateAgain = true;
    return stateFetch;
  }
  stateFetch = (async () => {
    try {
      do {
        stateAgain = false;
        try {
          drawState(await api.get("/api/state"));
        } catch (error) {
          say(`The state could not be read: ${error.message}`, "error");
        }
      } while (stateAgain);
    } finally {
      stateFetch = null;
    }
  })();
  return stateFetch;
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

function clockText(state) {
  if (state.clock === "virtual") {
    const total = Math.floor(state.time);
    const minutes = Math.floor(total / 60);
    const seconds = String(total % 60).padStart(2, "0");
    return `${minutes}:${seconds}`;
  }
  return new Date().toLocaleTimeString([], { hour: "numeric", minute: "2-digit" }).replace(/\s?[AP]M$/i, "");
}

function drawClock() {
  if (!current) return;
  const text = clockText(current);
  setText($("sb-time"), text);
  setText($("lock-time"), text);
  setText($("home-time"), text);
  if (current.clock === "virtual") {
    setText($("lock-date"), `Virtual time: ${current.time.toFixed(3)} s`);
    setText($("virtual-now"), `The device's clock stands at ${current.time.toFixed(3)} s; it moves only when you wait.`);
  } else {
    setText($("lock-date"), new Date().toLocaleDateString([], { weekday: "long", day: "numeric", month: "long" }));
  }
}

function drawNotifications(list) {
  const holder = $("notifications");
  const shown = list.slice(0, 4);
  const key = JSON.stringify(list);
  if (holder.dataset.key === key) return;
  holder.dataset.key = key;
  holder.replaceChildren();
  shown.forEach((section, index) => {
    const app = appFor(section);
    const item = document.createElement("li");
    item.className = "notification";
    const icon = document.createElement("span");
    icon.className = "app-icon";
    icon.style.background = app.color;
    icon.textContent = app.name.charAt(0).toUpperCase();
    icon.setAttribute("aria-hidden", "true");
    const name = document.createElement("span");
    name.className = "app-name";
    name.textContent = app.name;
    const when = document.createElement("span");
    when.className = "when";
    when.textContent = index === list.length - 1 ? "now" : "earlier";
    const message = document.createElement("span");
    message.className = "message";
    message.textContent = app.message;
    item.append(icon, name, when, message);
    holder.append(item);
  });
  if (list.length > shown.length) {
    const more = document.createElement("li");
    more.className = "notification more";
    more.textContent = `${list.length - shown.length} more`;
    holder.append(more);
  }
}

function describePhone(state) {
  if (state.springboard !== "running") return state.springboard === "not-booted" ? "The device has not booted." : "SpringBoard is restarting…";
  const parts = [];
  if (state.lockscreen === "dismissed") parts.push("Home screen: the lock screen was dismissed");
  else parts.push(state.device === "locked" ? "Lock screen shown, device locked" : "Lock screen shown, device unlocked");
  if (state.audio === "playing") parts.push("music playing");
  if (state.flashlight !== 0) parts.push("flashlight on");
  const count = state.notifications.length;
  if (count) parts.push(`${count} notification${count === 1 ? "" : "s"} waiting`);
  return parts.join(" · ");
}

function drawState(state) {
  current = state;
  const phone = $("phone");
  const running = state.springboard === "running";
  setFlag(phone, "data-springboard", state.springboard);
  setFlag(phone, "data-generation", String(state.generation));
  setText($("clock-mode"), `${state.clock === "virtual" ? "Virtual" : "Real"} time · ${running ? `iOS ${state.ios}, SpringBoard generation ${state.generation}` : "SpringBoard not running"}`);
  setText($("phone-summary"), describePhone(state));
  if (!running) {
    setText($("restarting-text"), state.springboard === "not-booted" ? "The device has not booted" : "SpringBoard is starting");
    return;
  }
  setFlag(phone, "data-lockscreen", state.lockscreen);
  setFlag(phone, "data-device", state.device);
  setFlag(phone, "data-flashlight", state.flashlight !== 0 ? "on" : "off");
  setFlag(phone, "data-audio", state.audio);
  setFlag(phone, "data-notifications", String(state.notifications.length));
  const companion = state.companion === "installed";
  setFlag(phone, "data-aod", companion && state.device === "locked" && state.lockscreen === "shown" ? "yes" : "no");

  setText($("padlock-text"), state.device === "locked" ? "Locked" : "Unlocked");
  setText($("lock-hint"), state.device === "locked" ? "Look at the phone to unlock" : "Swipe up to open");
  $("music").hidden = state.audio !== "playing";
  $("sb-flashlight").toggleAttribute("hidden", state.flashlight === 0);
  drawNotifications(state.notifications);

  const music = $("music-toggle");
  const playing = state.audio === "playing";
  setFlag(music, "aria-pressed", String(playing));
  music.dataset.command = playing ? "audio stopped" : "audio playing";
  setText(music, playing ? "Music playing: stop it" : "Play music in another app");
  const light = $("flashlight-toggle");
  const lit = state.flashlight !== 0;
  setFlag(light, "aria-pressed", String(lit));
  light.dataset.command = lit ? "flashlight 0" : "flashlight 1";
  setText(light, lit ? "Flashlight on: turn it off" : "Turn the flashlight on");
  $("lock-flashlight").dataset.command = light.dataset.command;

  $("aod-controls").hidden = !companion;
  $("clock-controls").hidden = state.clock !== "virtual";
  drawClock();
}

// ---- Commands ----

function say(text, kind) {
  const status = $("command-status");
  status.dataset.kind = kind;
  status.textContent = text;
}

let commandsInFlight = 0;

async function run(command) {
  commandsInFlight++;
  try {
    const answer = await api.post("/api/command", { command });
    if (answer.ok) say(`${command}${answer.events.length ? ` → ${answer.events[answer.events.length - 1].replace(/^t=\S+ /, "")}` : ""}`, "ok");
    else say(`${command}: ${answer.error}`, "error");
    return answer;
  } catch (error) {
    say(`${command}: ${error.message}`, "error");
    return { ok: false };
  } finally {
    commandsInFlight--;
    await refreshState();
  }
}

function bindCommands() {
  document.addEventListener("click", (event) => {
    const target = event.target.closest("[data-command]");
    if (!target || target.disabled) return;
    run(target.dataset.command);
  });
  $("notification-app").addEventListener("change", () => {
    $("notification-other-row").hidden = $("notification-app").value !== "other";
  });
  $("notification-add").addEventListener("click", () => {
    let section = $("notification-app").value;
    if (section === "other") section = $("notification-other").value.trim();
    if (!section) {
      say("Type the app's identifier first.", "error");
      $("notification-other").focus();
      return;
    }
    run(`notification add ${quoteWord(section)}`);
  });
  $("wait-custom").addEventListener("click", () => run(`wait ${$("wait-seconds").value || 0}`));
  $("command-form").addEventListener("submit", (event) => {
    event.preventDefault();
    const text = $("command-text").value.trim();
    if (text) run(text);
  });
}

// A text as one word of the scenario language.
function quoteWord(text) {
  if (/^[^\s"\\#]+$/.test(text) && text !== "nil") return text;
  return `"${text.replace(/[\\"]/g, (c) => `\\${c}`)}"`;
}

// ---- The Settings pane ----

async function refreshPane() {
  try {
    drawPane((await api.get("/api/pane")).rows);
  } catch (error) {
    $("pane").replaceChildren(Object.assign(document.createElement("p"), { className: "subtle", textContent: `The pane could not be loaded: ${error.message}` }));
  }
}

async function changePane(payload, label) {
  const answer = await api.post("/api/pane", payload);
  if (answer.ok) say(`${label}`, "ok");
  else say(`${label}: ${answer.error}`, "error");
  await Promise.all([refreshPane(), refreshState()]);
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
    toggle.setAttribute("aria-checked", String(row.value === true));
    toggle.setAttribute("aria-labelledby", `${id}-label`);
    toggle.dataset.key = row.key;
    toggle.innerHTML = '<span class="mark mark-on" aria-hidden="true">I</span><span class="mark mark-off" aria-hidden="true">O</span>';
    toggle.addEventListener("click", () => {
      toggle.disabled = true;
      const on = toggle.getAttribute("aria-checked") !== "true";
      changePane({ key: row.key, value: on }, `${label}: ${on ? "on" : "off"}`);
    });
    cell.append(text, toggle);
  } else if (row.type === "slider") {
    const text = Object.assign(document.createElement("label"), { className: "cell-label", htmlFor: id, textContent: label });
    const output = document.createElement("output");
    output.htmlFor = id;
    const value = typeof row.value === "number" ? row.value : row.min ?? 0;
    output.textContent = `${formatNumber(value)} s`;
    const slider = document.createElement("input");
    Object.assign(slider, { type: "range", id, min: row.min ?? 0, max: row.max ?? 10, step: 0.1, value });
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
    cell.append(Object.assign(document.createElement("span"), { className: "cell-label", textContent: label }));
    if ("value" in row) cell.append(Object.assign(document.createElement("span"), { className: "subtle", textContent: String(row.value ?? "") }));
  }
  return cell;
}

function drawPane(rows) {
  const pane = $("pane");
  const focused = document.activeElement && pane.contains(document.activeElement)
    ? (document.activeElement.dataset.key || document.activeElement.dataset.action) : null;
  const parts = [];
  let group = null;
  let note = null;
  const close = () => {
    if (group) parts.push(group);
    if (note) parts.push(Object.assign(document.createElement("p"), { className: "note", textContent: note }));
    group = null;
    note = null;
  };
  paneLabels = {};
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
      group = document.createElement("ul");
      group.className = "group";
    } else if (row.type === "footer") {
      close();
      parts.push(Object.assign(document.createElement("p"), { className: "pane-footer", textContent: row.text }));
    } else if (row.type === "group") {
      close();
      if (row.label) parts.push(Object.assign(document.createElement("h3"), { className: "group-label", textContent: row.label }));
      group = document.createElement("ul");
      group.className = "group";
      note = row.note || null;
    } else {
      if (!group) {
        group = document.createElement("ul");
        group.className = "group";
      }
      if (row.key) paneLabels[row.key] = row.label || row.key;
      group.append(cellFor(row, index));
    }
  });
  close();
  pane.replaceChildren(...parts.filter((part) => !(part.tagName === "UL" && !part.children.length)));
  if (focused) {
    const again = pane.querySelector(`[data-key="${CSS.escape(focused)}"], [data-action="${CSS.escape(focused)}"]`);
    if (again) again.focus();
  }
}

// ---- The timeline, with each decision in words ----

function setting(key) {
  return `'${paneLabels[key] || key}'`;
}

// Kind (for the badge) and one plain sentence for a decision or delayed-unlock line.
function explain(text) {
  let match = /^decision outcome=(\S+)(?: reason=(\S+))?/.exec(text);
  if (match) {
    const [, outcome, reason] = match;
    if (outcome === "blocked") {
      const why = {
        music: `music is playing and ${setting("DisableIfMusic")} is on`,
        flashlight: `the flashlight is on and ${setting("DisableIfFlashlight")} is on`,
        notifications: `notifications are waiting and ${setting("DisableIfNotifications")} is on`,
        external: "another part of the system asked to keep it",
      }[reason] || `a condition held (${reason})`;
      return ["kept", `Kept the lock screen: ${why}. The device is unlocked underneath.`];
    }
    if (outcome === "pass-through") {
      if (reason === "disabled") return ["passed", `Left the unlock as the system made it: ${setting("Enabled")} is off.`];
      if (reason === "re-send") return ["dismissed", "The delay is over: the unlock was sent again to dismiss the lock screen."];
      return ["passed", "Left the unlock as the system made it."];
    }
    return {
      "touch-hold": ["kept", `Kept the lock screen: the screen was touched before the match and ${setting("BlockForTouch")} is on.`],
      "unlock-now": ["dismissed", "Dismissed the lock screen at once: nothing was holding it."],
      "delay-not-biometric": ["passed", `${setting("DelayBeforeUnlock")} is on, but this was no face match: left the attempt as it was.`],
      "delay-refused": ["passed", `${setting("DelayBeforeUnlock")} is on, but the unlock failed: nothing was scheduled.`],
      "delay-scheduled": ["waiting", `Unlocked the device; the lock screen goes away after ${setting("DelayTime")} unless the screen is touched first.`],
    }[outcome] || ["passed", `Decided: ${outcome}.`];
  }
  match = /^delayed-unlock (\S+)/.exec(text);
  if (match) {
    return {
      sent: ["dismissed", "The delay is over: dismissing the lock screen now."],
      "skipped-touched": ["kept", "The delay is over, but the screen was touched meanwhile: the lock screen stays."],
      "skipped-gone": ["passed", "The delay is over, but the lock screen it was for is gone: nothing to do."],
    }[match[1]] || ["passed", `Delayed unlock: ${match[1]}.`];
  }
  return null;
}

const kindWords = { kept: "Lock screen kept", dismissed: "Lock screen dismissed", waiting: "Waiting", passed: "Passed through" };
let timelineCount = 0;
const maxTimelineLines = 2000;

function clearTimeline() {
  $("timeline").replaceChildren();
  timelineCount = 0;
}

function addTimelineLine(line) {
  const list = $("timeline");
  const atBottom = list.scrollHeight - list.scrollTop - list.clientHeight < 40;
  const match = /^t=(\S+) (.*)$/s.exec(line);
  const stamp = match ? match[1] : "";
  const text = match ? match[2] : line;
  const item = document.createElement("li");
  item.append(Object.assign(document.createElement("span"), { className: "stamp", textContent: stamp }),
    Object.assign(document.createElement("span"), { className: "text", textContent: text }));
  const explained = explain(text);
  if (explained) {
    const [kind, sentence] = explained;
    item.classList.add("decision-line");
    const explanation = document.createElement("span");
    explanation.className = "explain";
    explanation.append(Object.assign(document.createElement("span"), { className: `kind ${kind}`, textContent: kindWords[kind] }), sentence);
    item.append(explanation);
    const box = $("decision");
    box.dataset.kind = kind;
    setText($("decision-badge"), `${kindWords[kind]} · t=${stamp}`);
    setText($("decision-text"), sentence);
  }
  list.append(item);
  // A long session keeps its whole timeline in the downloadable scenario; the page shows the latest.
  while (list.childElementCount > maxTimelineLines) list.firstElementChild.remove();
  timelineCount++;
  setText($("timeline-count"), `${timelineCount} event${timelineCount === 1 ? "" : "s"}`);
  if (atBottom) list.scrollTop = list.scrollHeight;
}

function listen() {
  const stream = new EventSource("/api/events");
  const connection = $("connection");
  stream.onopen = () => {
    connection.dataset.connected = "yes";
    setText(connection.querySelector(".text"), "Live");
  };
  stream.onerror = () => {
    connection.dataset.connected = "no";
    setText(connection.querySelector(".text"), "Reconnecting");
  };
  let lastId = 0;
  stream.onmessage = (event) => {
    const id = Number(event.lastEventId);
    if (id <= lastId) clearTimeline(); // a new server: its timeline starts again
    lastId = id;
    addTimelineLine(event.data);
    refreshState();
  };
}

// ---- Start ----

bindCommands();
refreshPane().then(() => listen());
refreshState();
setInterval(drawClock, 10000);
