#!/usr/bin/python3
"""Reads and drives a program's windows as a screen reader does: over the
accessibility bus, through pyatspi. Tests run it with Debian's python3
(/usr/bin/python3), which has the bindings.

Every command finds the application by its process id and a top-level window
of it by name, waiting up to --timeout seconds for both, and prints one JSON
document on stdout. A node is {"role", "name", "states", "actions", "path"},
with roles and states named as AT-SPI names them ("check box", "checked"),
and the path that tells it from other nodes of the same name.

  dump      every node of the window, depth first
  act       performs the named action of the first node with the given name
            (and role, when given)
  set-text  replaces the text of an editable node
  focus     waits until a node of the window has the keyboard focus: the
            named one (--name), or any other than the node at --not-path
  text      the text of the named node and its length in characters, as a
            screen reader reads them (a password field hides its text, not
            its length)
  watch     listens for name and checked-state changes in the application,
            optionally performs an action once listening, and returns when a
            node's name becomes --until-name (or the time is up)

Exit status 0 when the command did what it was asked, 1 otherwise, 2 for bad
arguments.
"""

import argparse
import json
import sys
import time

import pyatspi
from gi.repository import GLib

POLL_SECONDS = 0.2


def state_names(accessible):
    names = []
    for state in accessible.getState().getStates():
        name = pyatspi.StateType._enum_lookup.get(int(state), str(state))
        names.append(name.replace("STATE_", "").lower().replace("_", " "))
    return sorted(names)


def action_names(accessible):
    try:
        actions = accessible.queryAction()
    except NotImplementedError:
        return []
    return [actions.getName(i) for i in range(actions.nActions)]


def describe(accessible):
    return {
        "role": accessible.getRoleName(),
        "name": accessible.name or "",
        "states": state_names(accessible),
        "actions": action_names(accessible),
        "path": accessible.path,
    }


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except GLib.GError:
            continue
    return None


def window(pid, name):
    app = application(pid)
    if app is None:
        return None
    for index in range(app.childCount):
        child = app.getChildAtIndex(index)
        if child is not None and child.name == name:
            return child
    return None


def walk(accessible):
    yield accessible
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            yield from walk(child)


def find(root, name, role=None):
    for node in walk(root):
        if node.name == name and (role is None or node.getRoleName() == role):
            return node
    return None


def wait_for(lookup, timeout):
    deadline = time.monotonic() + timeout
    while True:
        try:
            found = lookup()
        except GLib.GError:
            found = None
        if found is not None or time.monotonic() >= deadline:
            return found
        time.sleep(POLL_SECONDS)


def wait_for_node(args, name, role):
    return wait_for(lambda: (lambda w: w and find(w, name, role))(window(args.pid, args.window)), args.timeout)


def do_action(node, action):
    actions = node.queryAction()
    for index in range(actions.nActions):
        if actions.getName(index) == action:
            return actions.doAction(index)
    return False


def command_dump(args):
    found = wait_for(lambda: window(args.pid, args.window), args.timeout)
    if found is None:
        print(json.dumps({"error": "no window named %r" % args.window}))
        return 1
    print(json.dumps([describe(node) for node in walk(found)]))
    return 0


def command_act(args):
    node = wait_for_node(args, args.name, args.role)
    if node is None:
        print(json.dumps({"error": "no node named %r" % args.name}))
        return 1
    done = do_action(node, args.action)
    print(json.dumps({"done": bool(done), "node": describe(node)}))
    return 0 if done else 1


def command_set_text(args):
    node = wait_for_node(args, args.name, args.role)
    if node is None:
        print(json.dumps({"error": "no node named %r" % args.name}))
        return 1
    done = node.queryEditableText().setTextContents(args.text)
    print(json.dumps({"done": bool(done)}))
    return 0 if done else 1


def command_focus(args):
    def focused():
        root = window(args.pid, args.window)
        if root is None:
            return None
        for node in walk(root):
            if args.name is not None and node.name != args.name:
                continue
            if args.not_path is not None and node.path == args.not_path:
                continue
            if "focused" in state_names(node):
                return node
        return None

    node = wait_for(focused, args.timeout)
    print(json.dumps({"focused": node is not None, "node": describe(node) if node is not None else None}))
    return 0 if node is not None else 1


def command_text(args):
    node = wait_for_node(args, args.name, args.role)
    if node is None:
        print(json.dumps({"error": "no node named %r" % args.name}))
        return 1
    text = node.queryText()
    print(json.dumps({"text": text.getText(0, -1), "characters": text.characterCount}))
    return 0


def command_watch(args):
    root = wait_for(lambda: window(args.pid, args.window), args.timeout)
    if root is None:
        print(json.dumps({"error": "no window named %r" % args.window}))
        return 1
    events = []
    result = {"matched": False, "acted": None}

    def listener(event):
        try:
            if event.source is None or event.source.get_process_id() != args.pid:
                return
            events.append({"type": event.type, "detail": event.detail1, "node": describe(event.source)})
            if event.type.startswith("object:property-change:accessible-name") and \
                    event.source.name == args.until_name:
                result["matched"] = True
                pyatspi.Registry.stop()
        except GLib.GError:
            pass

    def act():
        if args.act_name:
            node = find(root, args.act_name, args.act_role)
            result["acted"] = bool(node is not None and do_action(node, args.action))
        return False

    def give_up():
        pyatspi.Registry.stop()
        return False

    pyatspi.Registry.registerEventListener(
        listener, "object:property-change:accessible-name", "object:state-changed:checked")
    GLib.idle_add(act)
    GLib.timeout_add(int(args.timeout * 1000), give_up)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(
        listener, "object:property-change:accessible-name", "object:state-changed:checked")
    result["events"] = events
    print(json.dumps(result))
    return 0 if result["matched"] else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("dump", "act", "set-text", "focus", "text", "watch"):
        command = commands.add_parser(name)
        command.add_argument("--pid", type=int, required=True)
        command.add_argument("--window", required=True)
        command.add_argument("--timeout", type=float, default=30)
        if name in ("act", "set-text", "text"):
            command.add_argument("--name", required=True)
            command.add_argument("--role")
        if name == "focus":
            command.add_argument("--name")
            command.add_argument("--not-path")
        if name == "act":
            command.add_argument("--action", required=True)
        if name == "set-text":
            command.add_argument("--text", required=True)
        if name == "watch":
            command.add_argument("--until-name", required=True)
            command.add_argument("--act-name")
            command.add_argument("--act-role")
            command.add_argument("--action")
    args = parser.parse_args()
    handlers = {"dump": command_dump, "act": command_act, "set-text": command_set_text, "focus": command_focus,
                "text": command_text, "watch": command_watch}
    return handlers[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
