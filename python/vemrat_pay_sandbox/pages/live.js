// Keeps a dashboard page up to date: asks the sandbox for the version of its data every
// second and, when it has moved, fetches this page again and puts the fresh copy of each
// element marked data-live in place of the old one. Text typed into a field of such an element,
// and the keyboard focus, are kept across the swap: a focused element without an id is found
// again as the same-numbered element of its kind under its nearest ancestor with an id.
(function () {
  "use strict";
  var INTERVAL = 1000;

  function meta(root, name) {
    var element = root.querySelector('meta[name="' + name + '"]');
    return element ? element.content : "";
  }

  var version = meta(document, "sandbox-version");
  var versionUrl = meta(document, "sandbox-version-url");
  // The status is announced to screen readers, so it changes only when the connection does;
  // the time of the latest update is shown beside it.
  var status = null;

  function show(text) {
    if (status && status.textContent !== text) { status.textContent = text; }
  }

  function updated() {
    var element = document.getElementById("live-updated");
    if (element) { element.textContent = "Updated at " + new Date().toLocaleTimeString() + "."; }
  }

  function focusKey(element) {
    if (!element || element === document.body) { return null; }
    if (element.id) { return {id: element.id}; }
    var holder = element.parentElement && element.parentElement.closest("[id]");
    if (!holder) { return null; }
    var kind = Array.prototype.slice.call(holder.querySelectorAll(element.tagName));
    return {holder: holder.id, tag: element.tagName, index: kind.indexOf(element)};
  }

  function refocus(key) {
    if (!key) { return; }
    var element = document.getElementById(key.id || key.holder);
    if (element && key.tag) { element = element.querySelectorAll(key.tag)[key.index]; }
    if (element && element !== document.activeElement) { element.focus(); }
  }

  function swap(html) {
    var fresh = new DOMParser().parseFromString(html, "text/html");
    var focused = focusKey(document.activeElement);
    var typed = {};
    document.querySelectorAll("[data-live] input").forEach(function (field) {
      if (field.id && field.value !== field.defaultValue) { typed[field.id] = field.value; }
    });
    document.querySelectorAll("[data-live]").forEach(function (old) {
      var replacement = fresh.getElementById(old.id);
      if (replacement) { old.replaceWith(document.importNode(replacement, true)); }
    });
    Object.keys(typed).forEach(function (id) {
      var field = document.getElementById(id);
      if (field) { field.value = typed[id]; }
    });
    refocus(focused);
    version = meta(fresh, "sandbox-version");
    document.querySelector('meta[name="sandbox-version"]').content = version;
  }

  function poll() {
    if (document.hidden) { setTimeout(poll, INTERVAL); return; }
    fetch(versionUrl, {cache: "no-store"})
      .then(function (answer) {
        if (!answer.ok) { throw new Error("HTTP " + answer.status); }
        return answer.text();
      })
      .then(function (current) {
        if (current === version) { return; }
        return fetch(location.href, {cache: "no-store"}).then(function (answer) {
          if (!answer.ok) { throw new Error("HTTP " + answer.status); }
          return answer.text();
        }).then(function (html) {
          swap(html);
          updated();
        });
      })
      .then(function () {
        show("Follows new orders and callbacks without a reload.");
      })
      .catch(function (error) {
        show("The sandbox cannot be reached (" + error.message + "); trying again.");
      })
      .then(function () { setTimeout(poll, INTERVAL); });
  }

  document.addEventListener("DOMContentLoaded", function () {
    status = document.getElementById("live-status");
    if (versionUrl) { poll(); }
  });
})();
