#pragma once
// A small PDF writer for tests (filled in by the test-support work).
