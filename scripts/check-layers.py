#!/usr/bin/env python3
"""Fails when an #include points against the targets' link order, or a rule of homes is broken.

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

Some things have one home under src/, so that a reader finds them in one
place and a test controls them:
- a class defines its methods in one .cpp;
- X.h, a header named after the class X it declares, declares no second
  class that has methods of its own in a .cpp: that class gets its own header;
- only platform/Clock reads the wall clock (QDateTime::current...,
  std::chrono::system_clock::now, std::time);
- only platform/Paths turns a path into text or text into a path;
- only platform/Trash spells the Trash layout ("files", "info", ".trashinfo",
  ".Trash", ".Trash-$uid").
Comments do not count. The allow-lists below name the exceptions, each with
its reason.

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


# Rules of homes ---------------------------------------------------------------

# Classes whose methods may lie in more than one .cpp: class -> reason.
SEVERAL_CPP_ALLOWED = {}
# Classes that may be declared in another class's header: class -> reason.
OTHER_HEADER_ALLOWED = {}
# Files, relative to the checkout, that may break one of the rules below:
# file -> reason.
WALL_CLOCK_ALLOWED = {}
PATH_TEXT_ALLOWED = {}
TRASH_LAYOUT_ALLOWED = {}

# (what the rule is about, its home, the pattern, the allow-list)
HOME_RULES = (
    ("reads the wall clock", "platform::Clock", ("src/platform/Clock.cpp", "src/platform/Clock.h"),
     re.compile(r"QDateTime::current\w*|system_clock::now|\bstd::time\s*\("), WALL_CLOCK_ALLOWED),
    ("converts between a path and text by hand", "platform/Paths.h", ("src/platform/Paths.cpp", "src/platform/Paths.h"),
     re.compile(r"QString::from(?:StdString|Utf8|Local8Bit)\([^;]*?\.(?:string|native|u8string|generic_string|c_str)"
                r"\(\)|QFile::decodeName\b|(?:std::filesystem::|fs::)path\b[^;{}]*?\.toStdString\(\)"),
     PATH_TEXT_ALLOWED),
    ("spells the Trash layout", "platform/Trash", ("src/platform/Trash.cpp", "src/platform/Trash.h"),
     re.compile(r'/\s*"(?:files|info)"|[!=]=\s*"(?:files|info)"|"[^"\n]*\.trashinfo[^"\n]*"|"\.Trash(?:-[^"\n]*)?"'),
     TRASH_LAYOUT_ALLOWED),
)

# A definition at the top level: `Type Class::method(`, `Class::Class(`.
METHOD_DEFINITION = re.compile(r"^(?![ \t#]|return\b|using\b|typedef\b)[^(=;{}\n]*?((?:\w+::)+)~?\w+\s*\(",
                               re.MULTILINE)
CLASS_DEFINITION = re.compile(r"^\s*(?:class|struct)\s+(\w+)\b[^;(]*?(?:\{|:[^:])", re.MULTILINE)
NAMESPACE = re.compile(r"\bnamespace\s+(\w+)")


def without_comments(text):
    """The text with its comments blanked, lines kept where they were."""
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.DOTALL)
    return re.sub(r"//[^\n]*", "", text)


def check_homes(root, several_cpp=None, other_header=None):
    """Returns the violations of the rules of homes in the checkout at root."""
    several_cpp = SEVERAL_CPP_ALLOWED if several_cpp is None else several_cpp
    other_header = OTHER_HEADER_ALLOWED if other_header is None else other_header
    texts = {}
    for base, _, names in os.walk(os.path.join(root, "src")):
        for name in names:
            if name.endswith(SOURCE_SUFFIXES):
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    texts[os.path.relpath(path, root).replace(os.sep, "/")] = without_comments(f.read())
    problems = []
    namespaces = {"std"}
    for text in texts.values():
        namespaces.update(NAMESPACE.findall(text))
    defined_in = {}  # class -> the .cpp files that define its methods
    declared_in = {}  # class -> the files that hold its definition
    for relative, text in sorted(texts.items()):
        for name in CLASS_DEFINITION.findall(text):
            declared_in.setdefault(name, set()).add(relative)
        if relative.endswith(".cpp"):
            for qualifier in METHOD_DEFINITION.findall(text):
                parts = [p for p in qualifier.split("::") if p]
                while parts and parts[0] in namespaces:
                    parts.pop(0)
                if parts:
                    defined_in.setdefault(parts[0], set()).add(relative)
        for what, home, home_files, pattern, allowed in HOME_RULES:
            if relative in home_files or relative in allowed:
                continue
            for match in pattern.finditer(text):
                line_no = text.count("\n", 0, match.start()) + 1
                problems.append(f"{relative}:{line_no}: {what} ({match.group(0).strip()}); that is {home}'s work")
    for name, files in sorted(defined_in.items()):
        if len(files) > 1 and name not in several_cpp:
            problems.append(f"{', '.join(sorted(files))}: {name} defines its methods in {len(files)} .cpp files; "
                            f"a class keeps them in one")
        headers = declared_in.get(name, set())
        if name in other_header or any(h.endswith(".cpp") for h in headers):
            continue
        for header in sorted(headers):
            stem = os.path.basename(header)[:-2]
            if stem != name and header in declared_in.get(stem, ()):
                problems.append(f"{header}: declares {name} beside {stem}; {name} gets a header named after it")
    return problems


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
    return problems + check_homes(root)


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
        "src/low/Low.h": ("#include <QString>\n"
                          "namespace lowtools {\nint twice(int x);\nint half(int x);\n}\n"
                          "class Low {\npublic:\n    int size() const;\n    struct Part {\n        int n;\n    };\n};\n"),
        "src/low/Low.cpp": ('#include "low/Low.h"\n'
                            "// Low::size( in a comment; QDateTime::currentDateTime(), \"files\"\n"
                            "/* QString::fromStdString(p.string()) and trash / \"info\" */\n"
                            "int Low::size() const\n{\n    return lowtools::twice(1);\n}\n"
                            "int lowtools::twice(int x) { return 2 * x; }\nvoid Extra::run() {}\n"),
        "src/low/LowParts.h": "class PartA {\n    void a();\n};\nstruct PartB : PartA {\n    void b();\n};\n",
        "src/low/LowParts.cpp": ("void PartA::a() {}\nvoid PartB::b() {}\n"
                                 "int lowtools::half(int x) { return x / 2; }\n"),
        "src/platform/Clock.cpp": "double wall() { return QDateTime::currentMSecsSinceEpoch() / 1000.0; }\n",
        "src/platform/Paths.cpp": "QString pathText(const std::string& b) { return QFile::decodeName(b.c_str()); }\n",
        "src/platform/Trash.cpp": ('fs::path files(const fs::path& t) { return t / "files"; }\n'
                                   'std::string suffix = ".trashinfo";\n'),
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
        "a class's methods in a second .cpp": ("src/low/LowMore.cpp", "int Low::more() const { return 1; }\n",
                                                "in 2 .cpp files"),
        "a second class in a class's header": ("src/low/Low.h", "struct Extra {\n    void run();\n};\n",
                                               "gets a header named after it"),
        "the wall clock read outside the clock": ("src/low/Low.cpp", "auto t = QDateTime::currentDateTime();\n",
                                                  "wall clock"),
        "the system clock read outside the clock": ("src/high/High.cpp",
                                                    "auto t = std::chrono::system_clock::now();\n", "wall clock"),
        "path text made by hand": ("src/low/Low.cpp", "QString t = QString::fromStdString(p.string());\n",
                                   "path and text"),
        "a path made from text by hand": ("src/high/High.cpp", "auto p = std::filesystem::path(t.toStdString());\n",
                                          "path and text"),
        "a trash folder's info/ spelled": ("src/low/Low.cpp", 'auto i = trash / "info";\n', "Trash layout"),
        "a trash info suffix spelled": ("src/high/High.cpp", 'std::string n = name + ".trashinfo";\n',
                                        "Trash layout"),
        "a top-directory trash spelled": ("src/high/High.cpp", 'auto t = top / (".Trash-" + uid);\n',
                                          "Trash layout"),
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
            if expected in ("in 2 .cpp files", "gets a header named after it"):
                allowed = {"Low": "test", "Extra": "test"}
                if check_homes(root, several_cpp=allowed, other_header=allowed):
                    failures.append(f"{label}: an allow-listed class was still rejected")
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
        print(f"{len(problems)} problem(s) with the layers or the homes; see ARCHITECTURE.md", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
