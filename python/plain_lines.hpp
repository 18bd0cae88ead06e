// Plain conversion of a block of UTF-8 lines, bytes in and bytes out: the
// command line's path for large inputs, with no Python object per line.
#pragma once

#include "limited_api.hpp"
#include "merrow.hpp"

namespace merrow::py {

// The lines of `data` (a bytes object; lines separated by LF) converted, each
// result followed by LF, with any LF or CR inside a result turned into a
// space. None when `data` is not valid UTF-8 (the caller then decodes it
// itself, to report or replace the bad bytes). nullptr with the
// interpreter's error set on failure or on a signal handler's exception.
PyObject* convert_plain_lines(const Pipeline& pipeline, PyObject* data);

}  // namespace merrow::py
