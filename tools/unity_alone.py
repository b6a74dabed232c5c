#!/usr/bin/env python3
"""Which sources of one program must be compiled on their own when the rest
are compiled together, several to a unit.

Sources compiled in one unit share one unnamed namespace and one global
scope: a name one of them declares there would be found, silently, by
another that means something else by it (a constant it takes from a
namespace it uses, an overload of its own helper). A source joins the
shared units only when no name it declares outside classes and functions is
mentioned by a source already in them, and none of theirs by it (the sources
with the fewest such clashes first); the others, and the shared fixtures
(sources not named *_test.cpp), are printed, one per line, to be compiled
alone.

usage: unity_alone.py <source>...
"""

import re
import sys

TOKEN = re.compile(
    r'//[^\n]*|/\*.*?\*/|R"(?P<delim>[^(]*)\(.*?\)(?P=delim)"|"(?:\\.|[^"\\\n])*"|'
    r"'(?:\\.|[^'\\\n])*'|[A-Za-z_]\w*|\S",
    re.S,
)
KEYWORDS = {
    "alignas", "auto", "bool", "char", "class", "const", "constexpr", "consteval", "constinit",
    "decltype", "double", "enum", "extern", "float", "inline", "int", "long", "namespace",
    "noexcept", "operator", "return", "short", "signed", "static", "static_assert", "struct",
    "template", "thread_local", "typedef", "typename", "union", "unsigned", "using", "void",
    "volatile", "std", "override", "final", "explicit", "virtual", "friend", "public",
    "private", "protected", "default", "delete", "this", "true", "false", "nullptr",
}


# Words before a name that make it no declaration's name.
NOT_TYPES = {
    "public", "private", "protected", "return", "new", "delete", "using", "namespace", "throw",
    "case", "goto", "operator", "co_return", "sizeof", "typedef", "virtual", "override", "final",
}


def tokens(text):
    out = []
    for m in TOKEN.finditer(text):
        t = m.group(0)
        if t.startswith("//") or t.startswith("/*"):
            continue
        if t.startswith("#"):
            continue
        out.append(t)
    return out


def strip_preprocessor(text):
    # Directives (with their continuation lines) declare nothing here.
    return re.sub(r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", "", text, flags=re.M)


def local_names(toks):
    """Identifiers a source declares for itself in any scope: a class or
    enum it names, a variable or function after its type. A name it
    declares and uses is its own wherever it stands."""
    names = set()
    for i in range(1, len(toks) - 1):
        t, prev, nxt = toks[i], toks[i - 1], toks[i + 1]
        if not re.match(r"[A-Za-z_]\w*$", t) or t in KEYWORDS or prev == "::" or nxt == "::":
            continue
        if prev in ("class", "struct", "enum", "union"):
            names.add(t)
        elif nxt in ("=", "{", ";", "[") and (
            prev in (">", "*", "&", "&&") or (re.match(r"[A-Za-z_]\w*$", prev) and prev not in NOT_TYPES)
        ):
            names.add(t)
    return names


def file_scope_names(toks):
    """Identifiers declared outside every class, function and block: at file
    scope or in a namespace, outside parentheses and template parameter
    lists."""
    names = set()
    scopes = []  # "open" (file scope or a namespace) or "closed"
    parens = 0
    i = 0
    pending = None  # "namespace" when the next "{" opens one
    while i < len(toks):
        t = toks[i]
        open_scope = all(s == "open" for s in scopes)
        if t == "namespace":
            # Named namespaces merge across the sources of a unit as the
            # unnamed one does; an alias ("namespace x = y;") opens nothing.
            pending = "namespace"
        elif t == "template" and i + 1 < len(toks) and toks[i + 1] == "<":
            # Skip the parameter list.
            depth = 0
            i += 1
            while i < len(toks):
                if toks[i] == "<":
                    depth += 1
                elif toks[i] == ">":
                    depth -= 1
                    if depth == 0:
                        break
                i += 1
        elif t == "(":
            parens += 1
        elif t == ")":
            parens = max(0, parens - 1)
        elif t == "{":
            scopes.append("open" if pending == "namespace" and parens == 0 else "closed")
            pending = None
        elif t == "}":
            if scopes:
                scopes.pop()
        elif t == ";":
            pending = None
        elif (
            open_scope
            and parens == 0
            and re.match(r"[A-Za-z_]\w*$", t)
            and t not in KEYWORDS
            and not t.isupper()
            and pending != "namespace"
        ):
            nxt = toks[i + 1] if i + 1 < len(toks) else ""
            prev = toks[i - 1] if i > 0 else ""
            if prev == "::" or nxt == "::":
                pass  # a qualified name: declared elsewhere
            elif prev in ("class", "struct", "enum", "union"):
                names.add(t)
            elif prev == "using" and nxt == "=":
                names.add(t)  # an alias
            elif nxt in ("(", "=", "{", ";", "[") and (
                prev in (">", "*", "&", "&&") or (re.match(r"[A-Za-z_]\w*$", prev) and prev not in NOT_TYPES)
            ):
                names.add(t)  # a function or variable after its type
        i += 1
    return names


def main(paths):
    declared = {}
    mentioned = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            toks = tokens(strip_preprocessor(f.read()))
        declared[path] = file_scope_names(toks)
        mentioned[path] = {t for t in toks if re.match(r"[A-Za-z_]\w*$", t)} - local_names(toks)
    def clash(a, b):
        return bool(declared[a] & (mentioned[b] | declared[b]) or declared[b] & mentioned[a])

    # Shared fixtures define what the tests mention on purpose: alone.
    tests = [p for p in paths if p.endswith("_test.cpp")]
    alone = [p for p in paths if not p.endswith("_test.cpp")]
    # The sources with the fewest clashes join first.
    degree = {p: sum(clash(p, o) for o in tests if o != p) for p in tests}
    together = []
    for path in sorted(tests, key=lambda p: (degree[p], p)):
        if any(clash(path, other) for other in together):
            alone.append(path)
        else:
            together.append(path)
    for path in sorted(alone):
        print(path)

if __name__ == "__main__":
    main(sys.argv[1:])
