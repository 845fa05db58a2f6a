"""Build, turn, scramble, inspect and draw twisty puzzles."""
from ._native import *  # noqa: F401,F403
from ._native import __all__, __version__  # noqa: F401
