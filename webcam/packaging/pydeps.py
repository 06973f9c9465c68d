#!/usr/bin/python3
"""The Debian packages that a package's Python files import, found as dpkg
knows them on this machine.

    pydeps.py ROOT [OWN_MODULE...]

Looks at every .py file under ROOT (a package's staged tree). Imports at a
module's top level are needed at run time and go to Depends; imports made
inside a function are needed only on that path (the demo's screenshot) and go
to Recommends. Prints two lines: "depends=a, b" and "recommends=c". Modules of
the standard library, relative imports and OWN_MODULEs (what this package or
its sibling ships) are left out. Python files, modules or scripts, bring the
interpreter.
"""
import ast
import importlib.util
import os
import subprocess
import sys


def imports(path):
    """(top-level names, names imported inside functions) of one file."""
    tree = ast.parse(open(path, 'rb').read(), path)
    top, inner = set(), set()

    def visit(node, nested):
        for child in ast.iter_child_nodes(node):
            inside = nested or isinstance(child, (ast.FunctionDef, ast.AsyncFunctionDef, ast.Lambda))
            names = []
            if isinstance(child, ast.Import):
                names = [a.name for a in child.names]
            elif isinstance(child, ast.ImportFrom) and child.level == 0 and child.module:
                names = [child.module]
            (inner if inside else top).update(n.split('.')[0] for n in names)
            visit(child, inside)
    visit(tree, False)
    return top, inner


def owner(module):
    """The Debian package holding the module, as dpkg -S says."""
    found = importlib.util.find_spec(module)
    if found is None or not found.origin:
        sys.exit('pydeps: no module %s on this machine' % module)
    path = os.path.realpath(found.origin)
    out = subprocess.run(['dpkg', '-S', path], capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit('pydeps: %s (%s) is in no Debian package' % (module, path))
    return out.stdout.split(':')[0]


def main():
    root, own = sys.argv[1], set(sys.argv[2:])
    top, inner, python = set(), set(), False
    for base, _, files in os.walk(root):
        for name in files:
            path = os.path.join(base, name)
            if not name.endswith('.py'):
                continue
            t, i = imports(path)
            top |= t
            inner |= i
            python = True
    keep = lambda names: {n for n in names if n not in sys.stdlib_module_names and n not in own}
    depends = {owner(m) for m in keep(top)} | ({'python3'} if python else set())
    recommends = {owner(m) for m in keep(inner - top)} - depends
    print('depends=' + ', '.join(sorted(depends)))
    print('recommends=' + ', '.join(sorted(recommends)))


if __name__ == '__main__':
    main()
