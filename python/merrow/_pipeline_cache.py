"""A small per-process cache of pipelines, shared by the converter and the
aligning functions.

Bounded, so that a process creating many configurations does not keep every
mapping alive, and safe across fork: a lock held by another thread at fork
time would stay held forever in the child, which has only the forking thread.
"""

from __future__ import annotations

import os
import threading
from collections import OrderedDict
from typing import Callable, Generic, Hashable, TypeVar

T = TypeVar("T")


class PipelineCache(Generic[T]):
    def __init__(self, limit: int = 8) -> None:
        self._limit = limit
        self._items: "OrderedDict[Hashable, T]" = OrderedDict()
        self._lock = threading.Lock()
        if hasattr(os, "register_at_fork"):
            os.register_at_fork(after_in_child=self._reset_lock)

    def _reset_lock(self) -> None:
        self._lock = threading.Lock()

    def get(self, key: Hashable, build: Callable[[], T]) -> T:
        """The item for `key`, built (under the lock, so once) when missing."""
        with self._lock:
            item = self._items.get(key)
            if item is None:
                item = self._items[key] = build()
                while len(self._items) > self._limit:
                    self._items.popitem(last=False)
            else:
                self._items.move_to_end(key)
            return item


__all__ = ["PipelineCache"]
