"""Metaheuristic optimisers with a C++ engine; a given ``random_state`` reproduces a run bit for bit."""

from hivekit import _hivekit
from hivekit._hivekit import *  # noqa: F403
from hivekit._hivekit import EngineFault, __all__ as _engine_all

__all__ = list(_engine_all)
