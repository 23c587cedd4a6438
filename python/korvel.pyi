"""PDF text extraction with the korvel engine (type stubs of the compiled module)."""

import os
from types import TracebackType
from typing import Literal, NamedTuple, Optional, Tuple, Type, Union

class Error(Exception):
    """Base of the errors korvel raises."""

class LoadError(Error):
    """The file or bytes are not a PDF document the engine can read."""

class PasswordError(Error):
    """The document needs a password and none, or a wrong one, was given."""

class EncryptionError(Error):
    """The document is encrypted by a security handler the engine does not support."""

class ExtractionError(Error):
    """The engine failed while producing a page's text."""

class Record(NamedTuple):
    """A positioned text block of a page (extraction option 3)."""

    font: str
    color: str  # "#RRGGBB"
    size: float
    x1: float
    y1: float
    x2: float
    y2: float
    x3: float
    y3: float
    x4: float
    y4: float
    text: str

PageSelection = Union[None, int, Tuple[int, int], range]

class Document:
    """An open PDF document; not meant to be shared between threads."""

    @property
    def page_count(self) -> int: ...
    @property
    def encrypted(self) -> bool: ...
    @property
    def closed(self) -> bool: ...
    @property
    def name(self) -> str: ...
    def page_size(self, page: int) -> Tuple[float, float]: ...
    def page_text(self, page: int, option: int = 0) -> str: ...
    def records(self, page: int) -> list[Record]: ...
    def extract(
        self,
        layout: Literal["smart", "order", "position", "reading"] = "smart",
        pages: PageSelection = None,
        filter: Literal["all", "odd", "even"] = "all",
        header: Optional[str] = None,
        footer: Optional[str] = None,
    ) -> str: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Document": ...
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> bool: ...

def open(
    path_or_bytes: Union[str, os.PathLike[str], os.PathLike[bytes], bytes, bytearray, memoryview],
    password: Union[str, bytes, None] = None,
    repair: bool = False,
) -> Document: ...
