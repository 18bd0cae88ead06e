# Generates contracts.hpp from python/merrow/contracts.json, the one copy of
# the facts the engine shares with the Python package.
set(_json_path ${CMAKE_CURRENT_LIST_DIR}/../python/merrow/contracts.json)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_json_path})
file(READ ${_json_path} _json)

# "a", "b", ... : the strings of a JSON array, as C++ string literals.
function(_json_string_list out key)
  string(JSON _n LENGTH "${_json}" ${key})
  math(EXPR _last "${_n} - 1")
  set(_items "")
  foreach(_i RANGE ${_last})
    string(JSON _v GET "${_json}" ${key} ${_i})
    list(APPEND _items "\"${_v}\"")
  endforeach()
  list(JOIN _items ", " _joined)
  set(${out} "${_joined}" PARENT_SCOPE)
endfunction()

_json_string_list(MERROW_TABLE_NAMES tables)

set(MERROW_LABEL_ITEMS "")
foreach(_key lang_labels confidence_labels source_labels)
  string(JSON _n LENGTH "${_json}" ${_key})
  math(EXPR _last "${_n} - 1")
  foreach(_i RANGE ${_last})
    string(JSON _v GET "${_json}" ${_key} ${_i})
    string(APPEND MERROW_LABEL_ITEMS " X(${_v})")
  endforeach()
endforeach()

string(JSON MERROW_MAX_WORD_CHARS GET "${_json}" max_word_chars)

set(MERROW_HAN_TEST "")
string(JSON _n LENGTH "${_json}" han_ranges)
math(EXPR _last "${_n} - 1")
foreach(_i RANGE ${_last})
  string(JSON _lo GET "${_json}" han_ranges ${_i} 0)
  string(JSON _hi GET "${_json}" han_ranges ${_i} 1)
  if(_i GREATER 0)
    string(APPEND MERROW_HAN_TEST " || ")
  endif()
  string(APPEND MERROW_HAN_TEST "(c >= 0x${_lo} && c <= 0x${_hi})")
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/contracts.hpp.in ${CMAKE_CURRENT_BINARY_DIR}/generated/contracts.hpp @ONLY)
