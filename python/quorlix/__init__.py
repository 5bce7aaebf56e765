"""Quorlix from Python: the library's conversions as functions, schedules as data.

    import quorlix
    quorlix.decode_filing("filing.txt", "filing-text.txt", "schedule.txt")
    values = quorlix.schedule_values("schedule.txt", apply_multiplier=True)

The shared library is found through the QUORLIX_LIBRARY environment variable,
then the system's loader (an installed libquorlix.so.1), then beside this
package; it is loaded on the first call. Every conversion raises QuorlixError,
or a subclass that is also Python's own (FileNotFoundError, OSError,
ValueError, MemoryError), when the library returns a failure status.
"""
from ._convert import convert_delimited, crlf, decode_filing, html_to_text, library_version, verify
from ._errors import (InputTooLargeError, QuorlixCallbackError, QuorlixError, QuorlixFileNotFoundError,
                      QuorlixFormatError, QuorlixMemoryError, QuorlixOSError, QuorlixValueError)
from ._library import LibraryNotFoundError
from .schedule import (panel_frame, parse_number, read_database, read_header, read_schedule, read_schedules,
                       schedule_values, schedules_frame, tag_dictionary)
from . import batch

__version__ = "1.2.0"

__all__ = [
    "crlf", "html_to_text", "decode_filing", "verify", "convert_delimited", "library_version",
    "read_schedule", "read_schedules", "schedule_values", "schedules_frame", "panel_frame", "tag_dictionary", "read_database",
    "read_header", "parse_number",
    "QuorlixError", "QuorlixFileNotFoundError", "QuorlixOSError", "QuorlixValueError", "QuorlixMemoryError",
    "QuorlixFormatError", "QuorlixCallbackError", "InputTooLargeError", "LibraryNotFoundError", "batch",
]
