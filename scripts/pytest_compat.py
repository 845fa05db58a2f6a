# Debian 12's pytest 7.2 rewrites assertions with the ast node classes Str, Num and NameConstant and
# the Constant.s alias, all gone from Python 3.14. Loaded with -p before any test module, this module
# puts equivalents back, so that failed assertions keep their explanations there.
import ast

if not hasattr(ast, "Str"):

    class _ConstantKind(type):
        def __instancecheck__(cls, node):
            return isinstance(node, ast.Constant) and isinstance(node.value, cls.kinds)

    def _kind(name, kinds):
        return _ConstantKind(name, (ast.Constant,), {"kinds": kinds, "__new__": lambda cls, *a, **k: ast.Constant(*a, **k)})

    ast.Str = _kind("Str", (str,))
    ast.Num = _kind("Num", (int, float, complex))
    ast.NameConstant = _kind("NameConstant", (bool, type(None)))
    ast.Constant.s = property(lambda node: node.value)
