"""The harness around the real update.exe under Wine, shared by the
end-to-end tests, the conformance runner, the checks of the executable,
the demo and the benchmarks: a private Wine session, and what the program
shows and keeps.  Callers put this folder's parent (tools/) on PYTHONPATH."""
from .program import (CLASS_ATOMS, CONTROLS, DONE, ERROR_CAPTION, FAILED, IDC_FOLDER, IDC_VERSION, KEY,
                      NAMES, NOT_INSTALLED, QUESTION, REGISTRY_ERROR, TITLE, write_error)
from .session import WineSession, hexbytes, parse

__all__ = ["CLASS_ATOMS", "CONTROLS", "DONE", "ERROR_CAPTION", "FAILED", "IDC_FOLDER", "IDC_VERSION", "KEY",
           "NAMES", "NOT_INSTALLED", "QUESTION", "REGISTRY_ERROR", "TITLE", "WineSession", "hexbytes", "parse",
           "write_error"]
