#pragma once
// The PDF object model: values (null, boolean, number, string, name, array, dictionary, stream,
// indirect reference; uPDFValues.h), the store TPDFStructure that owns them (uPDFStore.h), and
// the object syntax: the scanner behind TPDFStructure::Parse, the character classes and the
// two content-stream operand decoders (uPDFParser.h). This header includes all three.
//
// Ownership: the store owns every value it makes; containers hold non-owning pointers into the
// same store. Lookups never throw: a missing key, an index out of range, a wrong class or a
// dangling reference answer nullptr, an empty string or the caller's default.

#include "file/uPDFParser.h"
#include "file/uPDFStore.h"
#include "file/uPDFValues.h"
