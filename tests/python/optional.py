"""Packages that only some tests use. An interpreter may lack them (the free-threaded 3.14 build
has no NumPy, Pillow or SymPy here); the tests that need one then skip, saying which package is
missing for which interpreter, and every other test still runs.

    np = optional.module("numpy")            # the module, or None
    @optional.needs("numpy", "PIL.Image")    # skips a test, a class or a parameter set without them
    sympy = optional.need("sympy")           # in a test (or at a module's top): the module, or skip

It also says whether the module runs under the address sanitizer, whose checks make calls several
times slower: time limits of tests go through `seconds`.
"""

import functools
import importlib
import os
import sys
import sysconfig

import pytest


def interpreter():
    """"CPython 3.11" or "free-threaded CPython 3.14"."""
    build = "free-threaded " if sysconfig.get_config_var("Py_GIL_DISABLED") else ""
    return f"{build}{sys.implementation.name.replace('cpython', 'CPython')} {sys.version_info[0]}.{sys.version_info[1]}"


@functools.cache
def module(name):
    """The module called name, or None where it cannot be imported."""
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def reason(*names):
    missing = [n for n in names if module(n) is None]
    return f"{', '.join(missing)} {'is' if len(missing) == 1 else 'are'} not installed for {interpreter()}"


def needs(*names):
    """A mark that skips where any of the named modules is missing."""
    return pytest.mark.skipif(any(module(n) is None for n in names), reason=reason(*names))


def need(name):
    """The module; skips the calling test (or, at a module's top, the whole module) without it."""
    found = module(name)
    if found is None:
        pytest.skip(reason(name), allow_module_level=True)
    return found


SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def seconds(limit):
    """A test's time limit, stretched under the sanitizer."""
    return limit * 20 if SANITIZED else limit
