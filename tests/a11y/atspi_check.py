"""Reads Quillstep's window over AT-SPI, as a screen reader does, and checks
that every field, button and the list has a name and that the display
boxes say they are read-only. Exits 0 when all holds, 1 with the faults."""
import sys
import time

import pyatspi


def find_app(name, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                # The window's controls appear once it is shown.
                if any(True for _ in walk(app)):
                    return app
        time.sleep(0.1)
    return None


def walk(node):
    for child in node:
        if child is None:
            continue
        yield child
        yield from walk(child)


def main():
    app = find_app("quillstep", 30)
    if app is None:
        print("quillstep did not show up on the accessibility bus")
        return 1
    nodes = list(walk(app))
    by_name = {}
    for n in nodes:
        by_name.setdefault(n.name, []).append(n)

    faults = []

    def expect(name, roles, read_only=None, labelled_by=None):
        found = [n for n in by_name.get(name, []) if n.getRole() in roles]
        if not found:
            faults.append("nothing named %r with role %s" % (name, [str(r) for r in roles]))
            return
        node = found[0]
        states = node.getState()
        if read_only is not None:
            is_read_only = states.contains(pyatspi.STATE_READ_ONLY)
            if is_read_only != read_only:
                faults.append("%r read-only is %s, not %s" % (name, is_read_only, read_only))
        if labelled_by is not None:
            labels = [
                target.name
                for relation in node.getRelationSet()
                if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                for target in (relation.getTarget(i) for i in range(relation.getNTargets()))
            ]
            if labelled_by not in labels:
                faults.append("%r is labelled by %s, not by %r" % (name, labels, labelled_by))

    text = (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT)
    expect("服务器", text, read_only=False, labelled_by="服务器：")
    expect("用户名", text, labelled_by="用户名：")
    expect("密码", text, labelled_by="密  码：")
    expect("SQL脚本文件", text, read_only=True)
    expect("执行输出", text, read_only=True)
    expect("数据库列表", (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_LIST))
    for caption in ("连接", "断开", "帮助", "加载数据库", "执行SQL脚本"):
        expect(caption, (pyatspi.ROLE_PUSH_BUTTON,))
    combos = [n for n in nodes if n.getRole() == pyatspi.ROLE_COMBO_BOX]
    if not combos:
        faults.append("no combo box")
    nameless = [str(n.getRole()) for n in nodes
                if n.getRole() in (pyatspi.ROLE_PUSH_BUTTON,) + text and not n.name]
    if nameless:
        faults.append("nameless controls: %s" % nameless)

    print("read %d objects of quillstep" % len(nodes))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
