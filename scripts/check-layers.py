#!/usr/bin/env python3
"""Fails when an #include points against the targets' link order.

The CMake files are the one statement of the layers: kz_add_library,
kz_add_test and add_executable say which files form a target, and LINK /
target_link_libraries say which targets it may build on. A quoted include of
a header under src/ is allowed only when the header belongs to the including
file's own target or to a target that it links, directly or through others.
An include that points up (the engine reaching into the result model) or
sideways (one window's core reaching into another's) would compile today,
because every target sees all of src/, and turn the layering into a tangle
the next time someone moves a file.

Headless targets (every file outside a ui/ folder) must also stay buildable
without Qt Widgets: they include no ui/ header and no QtWidgets header.

Usage: check-layers.py [--root CHECKOUT]   check a checkout (default: this one)
       check-layers.py --self-test          show that bad includes are caught
Only the Python standard library is used.
"""

import argparse
import glob
import os
import re
import shlex
import sys
import tempfile

CMAKE_FILES = ("src/CMakeLists.txt", "tests/CMakeLists.txt", "bench/CMakeLists.txt")
SOURCE_SUFFIXES = (".cpp", ".h")

# Used when no Qt Widgets headers are installed (a headless machine): the
# headers a widget would most likely slip in through.
FALLBACK_WIDGET_HEADERS = {
    "QWidget", "QApplication", "QDialog", "QMainWindow", "QLabel", "QPushButton",
    "QToolButton", "QAbstractButton", "QCheckBox", "QLineEdit", "QMenu", "QMessageBox",
    "QFileDialog", "QLayout", "QBoxLayout", "QHBoxLayout", "QVBoxLayout", "QGridLayout",
    "QFrame", "QScrollArea", "QScrollBar", "QTableView", "QTreeView", "QHeaderView",
    "QStyle", "QStyledItemDelegate", "QGraphicsOpacityEffect", "QSplitter", "QAction",
}


def widget_headers():
    names = set(FALLBACK_WIDGET_HEADERS)
    patterns = ["/usr/include/qt6/QtWidgets", "/usr/include/*/qt6/QtWidgets"]
    for pattern in patterns:
        for folder in glob.glob(pattern):
            names.update(os.listdir(folder))
    # QAction moved to Qt Gui in Qt 6; a headless core may use it.
    names.discard("QAction")
    return names


class Target:
    def __init__(self, name, ui):
        self.name = name
        self.ui = ui
        self.deps = set()
        self.files = []


def cmake_commands(text):
    """Yields (command, [arguments]) for every call in a CMake file."""
    text = re.sub(r"#[^\n]*", "", text)
    for match in re.finditer(r"\b([A-Za-z_]\w*)\s*\(", text):
        depth, end = 1, match.end()
        while depth and end < len(text):
            depth += {"(": 1, ")": -1}.get(text[end], 0)
            end += 1
        yield match.group(1), shlex.split(text[match.end():end - 1])


def expand(arg, cmake_dir, root):
    return (arg.replace("${CMAKE_CURRENT_SOURCE_DIR}", cmake_dir)
               .replace("${CMAKE_SOURCE_DIR}", root))


def split_keywords(args, keywords):
    """Splits kz_add_* arguments into {keyword: [values]}; flags map to []."""
    parts, current = {"": []}, ""
    for arg in args:
        if arg in keywords:
            current = arg
            parts.setdefault(current, [])
        else:
            parts[current].append(arg)
    return parts


def folder_files(folder, ui, exclude, root):
    files = []
    for base, _, names in os.walk(folder):
        for name in sorted(names):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(base, name)
            relative = "/" + os.path.relpath(path, root)
            if ("/ui/" in relative) != ui:
                continue
            if exclude and re.search(exclude, path):
                continue
            files.append(path)
    return files


def read_targets(root):
    targets = {}
    for cmake_file in CMAKE_FILES:
        path = os.path.join(root, cmake_file)
        if not os.path.exists(path):
            continue
        cmake_dir = os.path.dirname(path)
        with open(path, encoding="utf-8") as f:
            commands = list(cmake_commands(f.read()))
        for command, args in commands:
            if command in ("kz_add_library", "kz_add_test"):
                parts = split_keywords(args[1:], {"UI", "DIR", "EXCLUDE", "LINK", "PRIVATE"})
                target = Target(args[0], "UI" in parts)
                folder = expand(parts["DIR"][0], cmake_dir, root)
                exclude = parts.get("EXCLUDE", [""])[0].replace("\\\\", "\\")
                target.files = folder_files(folder, target.ui, exclude, root)
                target.deps.update(parts.get("LINK", []) + parts.get("PRIVATE", []))
                targets[target.name] = target
            elif command == "add_executable":
                target = Target(args[0], False)
                target.files = [os.path.join(cmake_dir, a) for a in args[1:]
                                if a.endswith(SOURCE_SUFFIXES) and os.path.isfile(os.path.join(cmake_dir, a))]
                targets[target.name] = target
        for command, args in commands:
            if command == "target_link_libraries" and args[0] in targets:
                targets[args[0]].deps.update(a for a in args[1:] if a not in ("PUBLIC", "PRIVATE"))
    for target in targets.values():
        target.ui = target.ui or "Qt6::Widgets" in target.deps
        target.deps &= set(targets)
    # A program or test that links a widget target is a widget program.
    for target in targets.values():
        target.ui = target.ui or any(targets[d].ui for d in closure(targets, target.name))
    return targets


def closure(targets, name, seen=None):
    seen = set() if seen is None else seen
    for dep in targets[name].deps:
        if dep not in seen:
            seen.add(dep)
            closure(targets, dep, seen)
    return seen


INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.MULTILINE)


def check(root):
    """Returns the list of violations in the checkout at root."""
    root = os.path.abspath(root)
    src = os.path.join(root, "src")
    targets = read_targets(root)
    owner = {}
    for target in targets.values():
        for path in target.files:
            if path.startswith(src + os.sep):
                owner.setdefault(path, target.name)
    widgets = widget_headers()
    problems = []
    for target in sorted(targets.values(), key=lambda t: t.name):
        allowed = closure(targets, target.name) | {target.name}
        for path in target.files:
            relative = os.path.relpath(path, root)
            headless = "/ui/" not in "/" + relative and not target.ui
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for line_no, (kind, name) in ((text.count("\n", 0, m.start()) + 1, m.groups())
                                          for m in INCLUDE.finditer(text)):
                where = f"{relative}:{line_no}"
                if kind == "<":
                    if headless and (name.startswith("QtWidgets/") or name in widgets):
                        problems.append(f"{where}: headless {target.name} includes the widget header <{name}>")
                    continue
                candidates = [os.path.normpath(os.path.join(os.path.dirname(path), name)),
                              os.path.normpath(os.path.join(src, name))]
                header = next((c for c in candidates if os.path.isfile(c)), None)
                if header is None or not header.startswith(src + os.sep):
                    continue
                if headless and "/ui/" in "/" + os.path.relpath(header, src):
                    problems.append(f'{where}: headless {target.name} includes the widget header "{name}"')
                    continue
                header_owner = owner.get(header)
                if header_owner is None:
                    problems.append(f'{where}: "{name}" belongs to no target in the CMake files')
                elif header_owner not in allowed:
                    problems.append(f'{where}: {target.name} includes "{name}" of {header_owner}, '
                                    f'which {target.name} does not link')
    return problems


def write(root, relative, text):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def self_test():
    """Builds a small checkout with two layers and breaks it one way at a time."""
    good = {
        "src/CMakeLists.txt": (
            'kz_add_library(kz_low DIR "${CMAKE_CURRENT_SOURCE_DIR}/low" LINK Qt6::Core)\n'
            '# a comment (with parentheses)\n'
            'kz_add_library(kz_high DIR "${CMAKE_CURRENT_SOURCE_DIR}/high"\n'
            '  LINK kz_low PRIVATE OpenSSL::Crypto)\n'
            'kz_add_library(kz_high_ui UI DIR "${CMAKE_CURRENT_SOURCE_DIR}/high" LINK kz_high Qt6::Widgets)\n'),
        "tests/CMakeLists.txt": 'kz_add_test(kz_low_tests DIR "${CMAKE_CURRENT_SOURCE_DIR}/low" LINK kz_low)\n',
        "src/low/Low.h": "#include <QString>\n",
        "src/low/Low.cpp": '#include "low/Low.h"\n',
        "src/high/High.h": '#include "low/Low.h"\n#include <QImage>\n',
        "src/high/ui/HighView.h": '#include "high/High.h"\n#include <QWidget>\n',
        "tests/low/LowTest.cpp": '#include "low/Low.h"\n#include "LowTestSupport.h"\n',
        "tests/low/LowTestSupport.h": "\n",
        "bench/CMakeLists.txt": ('add_executable(high_bench high_bench.cpp)\n'
                                 'target_link_libraries(high_bench PRIVATE kz_common kz_high_ui)\n'),
        "bench/high_bench.cpp": '#include "high/ui/HighView.h"\n#include <QApplication>\n',
    }
    breakages = {
        "an include up a layer": ("src/low/Low.cpp", '#include "high/High.h"\n', "does not link"),
        "an include up a layer behind spaces": ("src/low/Low.h", '  #  include "high/High.h"\n', "does not link"),
        "a headless file with a widget header": ("src/high/High.cpp", "#include <QWidget>\n", "widget header"),
        "a headless file with a ui/ header": ("src/high/High.cpp", '#include "high/ui/HighView.h"\n',
                                              "widget header"),
        "a headless test with a widget header": ("tests/low/LowTest.cpp", "#include <QtWidgets/QLabel>\n",
                                                 "widget header"),
        "a test beyond its library": ("tests/low/LowTest.cpp", '#include "high/High.h"\n', "does not link"),
        "a headless program with a widget header": ("bench/low_bench.cpp", "#include <QApplication>\n",
                                                    "widget header"),
        "a header of no target": ("src/low/Low.cpp", '#include "stray/Stray.h"\n', "no target"),
    }
    failures = []
    with tempfile.TemporaryDirectory() as root:
        for relative, text in good.items():
            write(root, relative, text)
        write(root, "src/stray/Stray.h", "\n")
        with open(os.path.join(root, "bench/CMakeLists.txt"), "a", encoding="utf-8") as f:
            f.write("add_executable(low_bench low_bench.cpp)\ntarget_link_libraries(low_bench PRIVATE kz_low)\n")
        if check(root):
            failures.append(f"the sound tree was rejected: {check(root)}")
        for label, (relative, line, expected) in breakages.items():
            path = os.path.join(root, relative)
            before = open(path, encoding="utf-8").read() if os.path.exists(path) else None
            write(root, relative, (before or "") + line)
            problems = check(root)
            if len(problems) != 1 or expected not in problems[0]:
                failures.append(f"{label}: expected one problem with '{expected}', got {problems}")
            if before is None:
                os.remove(path)
            else:
                write(root, relative, before)
    for failure in failures:
        print(f"self-test: {failure}", file=sys.stderr)
    print(f"self-test: {len(breakages) - len(failures)} of {len(breakages)} breakages caught")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    problems = check(args.root)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"{len(problems)} include(s) against the layers; see ARCHITECTURE.md", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
