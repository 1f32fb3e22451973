"""SQLite persistence: orders and seen nonces, callback deliveries and their attempts.

One connection shared by all threads, guarded by a lock; every public method is one
transaction. A store reopened on the same file keeps everything, so a replay is still
refused after a restart and unfinished deliveries go on.
"""

from .orders import Store

__all__ = ["Store"]
