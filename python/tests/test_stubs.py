# The type stubs describe what the compiled module really has, so editors complete real names only.
import ast
import pathlib

import ptmatch
from ptmatch import _ptmatch

STUBS = pathlib.Path(__file__).resolve().parents[1] / "ptmatch"


def declared_names(body):
    names = set()
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names.add(node.target.id)
        elif isinstance(node, ast.Assign):
            names.update(t.id for t in node.targets)
    return names


def test_every_public_name_and_member_of_the_module_has_a_stub():
    tree = ast.parse((STUBS / "_ptmatch.pyi").read_text())
    public = {n for n in dir(_ptmatch) if not n.startswith("_")}
    assert public <= declared_names(tree.body), sorted(public - declared_names(tree.body))
    for node in (n for n in tree.body if isinstance(n, ast.ClassDef)):
        real = {m for m in vars(getattr(_ptmatch, node.name)) if not m.startswith("_")}
        declared = declared_names(node.body)
        if any(ast.unparse(b) == "enum.IntEnum" for b in node.bases):
            declared |= {"name", "value"}
        assert real <= declared, (node.name, sorted(real - declared))


def test_the_package_stub_lists_everything_the_package_exports():
    text = (STUBS / "__init__.pyi").read_text()
    for name in (n for n in vars(ptmatch) if not n.startswith("_") and n != "np"):
        assert f"{name} as {name}" in text or f"def {name}(" in text or f"class {name}(" in text, name
