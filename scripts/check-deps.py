#!/usr/bin/env python3
"""Checks the libraries' dependencies against docs/architecture.md, in a second.

The page's table of libraries is the dependency order: each row names a library (its folder in
src/) and the libraries it depends on directly, which must all stand in rows below it. The check
reads what each library declares in CMake (the DEPS of vornex_library() and the
target_link_libraries() of the targets defined in its folder, in src/**/CMakeLists.txt) and the
'#include "module/..."' lines of every file in its folder, and fails, naming file, line and
module, when
  - a file includes a module that its library does not declare directly;
  - a library declares a dependency that the page does not list, or the page lists one that
    the library does not declare;
  - the declared dependencies form a cycle, or a row of the page depends on a row above it;
  - a library folder is missing from the page, or the page names a folder that is not there.

  scripts/check-deps.py               checks the work tree
  scripts/check-deps.py --self-test   checks the check on small trees of its own
"""

import argparse
import os
import re
import sys
import tempfile

PAGE = "docs/architecture.md"
TABLE_HEADING = "## Dependency order"
SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".rc", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([A-Za-z0-9_]+)/')
COMMAND = re.compile(r"\b([A-Za-z_][A-Za-z0-9_]*)\s*\(")
VARIABLE = re.compile(r"\$\{([A-Za-z0-9_]+)\}")
DEPENDS_KEYWORDS = {"DEPS", "SOURCES", "PUBLIC", "PRIVATE", "INTERFACE", "LINK_PUBLIC",
                    "LINK_PRIVATE", "LINK_INTERFACE_LIBRARIES", "STATIC", "SHARED", "OBJECT",
                    "MODULE", "WIN32", "EXCLUDE_FROM_ALL", "ALIAS", "IMPORTED", "GLOBAL"}


def strip_comments(text):
    """CMake text without its '#' comments (a '#' inside a quoted argument stays)."""
    out = []
    for line in text.splitlines():
        quoted = False
        cut = len(line)
        for i, ch in enumerate(line):
            if ch == '"' and (i == 0 or line[i - 1] != "\\"):
                quoted = not quoted
            elif ch == "#" and not quoted:
                cut = i
                break
        out.append(line[:cut])
    return "\n".join(out)


def commands(text):
    """(name, arguments) of every command call in CMake text, arguments split on blanks."""
    text = strip_comments(text)
    pos = 0
    while True:
        match = COMMAND.search(text, pos)
        if not match:
            return
        depth, i = 1, match.end()
        while i < len(text) and depth:
            depth += {"(": 1, ")": -1}.get(text[i], 0)
            i += 1
        yield match.group(1).lower(), text[match.end():i - 1].split()
        pos = i


def read_cmake(root, modules):
    """Targets defined per module and the targets each target links (variables expanded)."""
    owner = {}  # target -> module
    links = {}  # target -> [target or other library]
    src = os.path.join(root, "src")
    for folder, _, files in sorted(os.walk(src)):
        if "CMakeLists.txt" not in files:
            continue
        rel = os.path.relpath(folder, src)
        module = rel.split(os.sep)[0] if rel != "." else None
        if module is not None and module not in modules:
            continue
        with open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8") as f:
            calls = list(commands(f.read()))
        variables = {}
        for name, args in calls:
            if name in ("set", "list") and args:
                if name == "list" and len(args) > 2 and args[0] == "APPEND":
                    variables.setdefault(args[1], []).extend(args[2:])
                elif name == "set":
                    variables.setdefault(args[0], []).extend(args[1:])

        def expand(words, seen=()):
            out = []
            for word in words:
                match = VARIABLE.fullmatch(word)
                if match and match.group(1) in variables and match.group(1) not in seen:
                    out.extend(expand(variables[match.group(1)], seen + (match.group(1),)))
                else:
                    out.append(word)
            return out

        for name, args in calls:
            if not args:
                continue
            if name in ("vornex_library", "add_library", "add_executable") and module:
                owner.setdefault(args[0], module)
            if name == "vornex_library" and "DEPS" in args:
                deps = args[args.index("DEPS") + 1:]
                if "SOURCES" in deps:
                    deps = deps[:deps.index("SOURCES")]
                links.setdefault(args[0], []).extend(expand(deps))
            elif name == "target_link_libraries":
                links.setdefault(args[0], []).extend(
                    w for w in expand(args[1:]) if w not in DEPENDS_KEYWORDS)
    declared = {m: set() for m in modules}
    for target, deps in links.items():
        module = owner.get(target)
        if module is None:
            continue
        for dep in deps:
            other = owner.get(dep)
            if other is not None and other != module:
                declared[module].add(other)
    return declared


def read_page(root):
    """The page's rows in order: [(module, [dependencies], line)], and problems found."""
    path = os.path.join(root, PAGE)
    rows, problems = [], []
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    except OSError as e:
        return rows, [f"{PAGE}: cannot be read: {e.strerror}"]
    in_section = False
    for number, line in enumerate(lines, 1):
        if line.startswith("## "):
            in_section = line.strip() == TABLE_HEADING
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")] if in_section else []
        if len(cells) < 2 or not re.fullmatch(r"`[a-z0-9_]+`", cells[0]):
            continue
        rows.append((cells[0].strip("`"), re.findall(r"`([a-z0-9_]+)`", cells[1]), number))
    if not rows:
        problems.append(f"{PAGE}: no table of libraries under '{TABLE_HEADING}'")
    return rows, problems


def find_cycle(graph):
    """One cycle of the graph as a list of nodes (first == last), or None."""
    state = {}

    def visit(node, path):
        state[node] = 1
        path.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt, path)
                if found:
                    return found
        path.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [])
            if found:
                return found
    return None


def check(root):
    """Problems of the tree at root, each one line; the summary line last when there are none."""
    src = os.path.join(root, "src")
    modules = sorted(d for d in os.listdir(src)
                     if os.path.isfile(os.path.join(src, d, "CMakeLists.txt")))
    problems = []
    declared = read_cmake(root, modules)
    rows, page_problems = read_page(root)
    problems += page_problems

    # The page against the folders, and its order.
    position = {}
    for module, _, number in rows:
        if module in position:
            problems.append(f"{PAGE}:{number}: `{module}` has a second row")
        position.setdefault(module, number)
        if module not in modules:
            problems.append(f"{PAGE}:{number}: `{module}` is no library folder in src/")
    if rows:
        for module in modules:
            if module not in position:
                problems.append(f"src/{module}/CMakeLists.txt: the library `{module}` has no row "
                                f"in {PAGE}")
    page_edges = {}
    for module, deps, number in rows:
        page_edges.setdefault(module, set()).update(deps)
        for dep in deps:
            if dep not in position:
                problems.append(f"{PAGE}:{number}: `{module}` depends on `{dep}`, which has no row")
            elif position[dep] <= number:
                problems.append(f"{PAGE}:{number}: `{module}` depends on `{dep}`, a row above it "
                                "(a dependency stands below its users)")

    # CMake against the page, in both directions, and the declared graph on its own.
    if rows:
        for module in modules:
            cmake = f"src/{module}/CMakeLists.txt"
            for dep in sorted(declared[module] - page_edges.get(module, set())):
                problems.append(f"{cmake}: `{module}` declares `{dep}`, which {PAGE} does not list "
                                f"as a dependency of `{module}`")
            for dep in sorted(page_edges.get(module, set()) - declared[module]):
                if dep in modules and module in modules:
                    problems.append(f"{cmake}: `{module}` does not declare `{dep}`, which {PAGE} "
                                    f"lists as its dependency")
    cycle = find_cycle(declared)
    if cycle:
        problems.append("src: the declared dependencies form a cycle: " + " -> ".join(cycle))

    # Every include of another module, against what its library declares.
    files = 0
    for module in modules:
        for folder, dirs, names in os.walk(os.path.join(src, module)):
            dirs.sort()
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                files += 1
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        used = match.group(1)
                        if used in modules and used != module and used not in declared[module]:
                            problems.append(
                                f"{rel}:{number}: includes {used}/, but the library `{module}` "
                                f"does not declare `{used}` (add vornex_{used} to its CMake "
                                f"dependencies and `{used}` to its row in {PAGE})")
    if problems:
        return problems
    edges = sum(len(d) for d in declared.values())
    return [f"dependencies: {len(modules)} libraries, {edges} declared edges, {files} files "
            f"agree with {PAGE}"]


# ----------------------------------------------------------------------------------------------
# Self-test: small trees of their own, each with the problems the check must find (one text
# each problem must hold) or none.

def page(*rows):
    table = "\n".join(f"| `{m}` | {', '.join(f'`{d}`' for d in deps) or '—'} | x |"
                      for m, deps in rows)
    return f"# Libraries\n\n{TABLE_HEADING}\n\n| library | depends on | for |\n|---|---|---|\n{table}\n"


LIB = "vornex_library(vornex_{} SOURCES {}.cpp DEPS {})\n"
CLEAN = {
    PAGE: page(("app", ["ui"]), ("ui", ["core"]), ("core", [])),
    "src/app/CMakeLists.txt": "add_executable(vornex main.cpp)\n"
                              "target_link_libraries(vornex PRIVATE vornex_ui)\n",
    "src/app/main.cpp": '#include "ui/view.h"\n',
    "src/ui/CMakeLists.txt": "if(WIN32)\n  set(UI_LIBS user32)\nelse()\n"
                             "  set(UI_LIBS vornex_core)  # the core\nendif()\n"
                             + LIB.format("ui", "view", "${UI_LIBS}")
                             + "vornex_library(vornex_ui_front SOURCES front/f.cpp DEPS vornex_ui)\n",
    "src/ui/view.h": '#pragma once\n#include "core/core.h"\n#include <vector>\n',
    "src/ui/front/f.cpp": '#include "ui/view.h"\n#include "posix/local.h"\n',
    "src/core/CMakeLists.txt": LIB.format("core", "core", "Threads::Threads"),
    "src/core/core.h": "#pragma once\n// #include \"ui/view.h\" is not an include\n",
}
SELF_TEST_CASES = [
    ("a clean tree", {}, []),
    ("an include of a module the library does not declare",
     {"src/core/core.cpp": '#include <string>\n\n#include "ui/view.h"\n'},
     ["src/core/core.cpp:3: includes ui/, but the library `core` does not declare `ui`"]),
    ("an include past a library, not declared directly",
     {"src/app/main.cpp": '#include "ui/view.h"\n#include "core/core.h"\n'},
     ["src/app/main.cpp:2: includes core/, but the library `app` does not declare `core`"]),
    ("a cycle of declared dependencies",
     {"src/core/CMakeLists.txt": LIB.format("core", "core", "vornex_ui")},
     ["cycle: ui -> core -> ui", "`core` declares `ui`, which docs/architecture.md does not"]),
    ("a declared dependency that the page does not list",
     {PAGE: page(("app", []), ("ui", ["core"]), ("core", []))},
     ["src/app/CMakeLists.txt: `app` declares `ui`, which docs/architecture.md does not list"]),
    ("a page row above its dependency",
     {PAGE: page(("ui", ["core"]), ("core", []), ("app", ["ui"]))},
     ["`app` depends on `ui`, a row above it"]),
    ("a library folder missing from the page",
     {"src/extra/CMakeLists.txt": LIB.format("extra", "extra", "vornex_core")},
     ["src/extra/CMakeLists.txt: the library `extra` has no row"]),
]


def self_test():
    failed = 0
    for name, changes, wanted in SELF_TEST_CASES:
        with tempfile.TemporaryDirectory(prefix="vornex-check-deps-") as root:
            for rel, text in {**CLEAN, **changes}.items():
                path = os.path.join(root, rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
            got = check(root)
            ok_line = len(got) == 1 and got[0].startswith("dependencies:")
            if wanted:
                missing = [w for w in wanted if not any(w in line for line in got)]
                good = not ok_line and not missing
            else:
                missing, good = [], ok_line
            print(f"{'ok     ' if good else 'FAILED '} check-deps finds {name}")
            if not good:
                failed += 1
                for w in missing or ["(no problem)"]:
                    print(f"        wanted: {w}")
                for line in got:
                    print(f"        got:    {line}")
    print(f"check-deps self-test: {len(SELF_TEST_CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--self-test", action="store_true", help="check the check itself")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."),
                        help="the source tree (default: this script's repository)")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    lines = check(os.path.abspath(args.root))
    if len(lines) == 1 and lines[0].startswith("dependencies:"):
        print(lines[0])
        return 0
    for line in lines:
        print(f"check-deps: {line}", file=sys.stderr)
    print(f"check-deps: {len(lines)} problem(s); the dependency order is in {PAGE}",
          file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
