"""PDF text extraction with the korvel engine (type stubs of the compiled module)."""

import datetime
import os
from types import TracebackType
from typing import (BinaryIO, Dict, Iterator, List, Literal, NamedTuple, Optional, Protocol, Tuple,
                    Type, Union, overload)

__version__: str

class Error(Exception):
    """Base of the errors korvel raises."""

class LoadError(Error):
    """The file or bytes are not a PDF document the engine can read."""

class MissingFileError(LoadError, FileNotFoundError):
    """The path names no file."""

class DirectoryError(LoadError, IsADirectoryError):
    """The path names a folder."""

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

class _Readable(Protocol):
    def read(self) -> Union[bytes, bytearray]: ...

Source = Union[str, os.PathLike[str], os.PathLike[bytes], bytes, bytearray, memoryview, _Readable,
               BinaryIO]

# (x0, top, x1, bottom, text, block, line, word): points from the top left of the page.
Word = Tuple[float, float, float, float, str, int, int, int]
# (x0, top, x1, bottom, text, block)
Block = Tuple[float, float, float, float, str, int]

Layout = Literal["reading", "smart", "order", "position", "raw"]

class Page:
    """A page of a Document; number counts from 0."""

    @property
    def number(self) -> int: ...
    @property
    def width(self) -> float: ...
    @property
    def height(self) -> float: ...
    @property
    def rotation(self) -> int: ...
    @property
    def document(self) -> "Document": ...
    def text(self, layout: Layout = "reading") -> str: ...
    def words(self) -> List[Word]: ...
    def blocks(self) -> List[Block]: ...
    def records(self) -> List[Record]: ...

class Document:
    """An open PDF document; not meant to be shared between threads."""

    def __init__(self, source: Source, password: Union[str, bytes, None] = None,
                 repair: bool = False) -> None: ...
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, index: int) -> Page: ...
    @overload
    def __getitem__(self, index: slice) -> List[Page]: ...
    def __iter__(self) -> Iterator[Page]: ...
    @property
    def is_encrypted(self) -> bool: ...
    @property
    def needs_password(self) -> bool: ...
    def authenticate(self, password: Union[str, bytes]) -> bool: ...
    @property
    def metadata(self) -> Dict[str, Union[str, datetime.datetime, None]]: ...
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
    source: Source,
    password: Union[str, bytes, None] = None,
    repair: bool = False,
) -> Document: ...
