"""Exceptions: one class per status of libqvres, each carrying the library's
message, which names the file and what was wrong."""
from ._text import terminal_text


class Error(Exception):
    """A failed call. `status` is the library's status code (0 for failures
    found by the package itself, such as a closed analysis). The message
    shows control characters as \\xNN: it quotes names and paths from the
    files, and ends on a terminal."""

    status = 0

    def __init__(self, message):
        message = terminal_text(message)
        super().__init__(message)
        self.message = message


class ArgumentError(Error, ValueError):
    """An index out of range, a bad option, a variable of the wrong kind."""
    status = 1


class NotFoundError(Error, FileNotFoundError):
    """No such file, or no base file for it."""
    status = 2


class LockedError(Error):
    """A lock file says a solver or another reader is using the run."""
    status = 3


class UnreadableError(Error):
    """The file exists but cannot be opened."""
    status = 4


class DamagedError(Error):
    """The file is damaged or truncated."""
    status = 5


class NotStoredError(Error, LookupError):
    """The cycle does not store what was asked."""
    status = 6


class CapacityError(Error):
    """A buffer was too small (the package sizes every buffer: a library fault)."""
    status = 7


class NoMemoryError(Error, MemoryError):
    """The library could not allocate what the request needs."""
    status = 8


_BY_STATUS = {c.status: c for c in (ArgumentError, NotFoundError, LockedError, UnreadableError,
                                    DamagedError, NotStoredError, CapacityError, NoMemoryError)}


def from_status(status, message):
    error = _BY_STATUS.get(status, Error)(message or f"status {status}")
    error.status = status
    return error
