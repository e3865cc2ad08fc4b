# cmake -DMODULE=DLL -DMINIMAL=DLL -DOUT=FILE -P padding.cmake: writes FILE,
# a source defining TolvanePadding, read-only data of as many bytes as
# MODULE's file has more than MINIMAL's.
file(SIZE ${MODULE} _module)
file(SIZE ${MINIMAL} _minimal)
math(EXPR _bytes "${_module} - ${_minimal}")
if(_bytes LESS 1)
  set(_bytes 1)
endif()
# Not zeros, which a linker may leave out of the file; a string literal
# ends with its NUL.
string(REPEAT "P" 64 _row)
math(EXPR _rows "(${_bytes} - 1) / 64")
math(EXPR _rest "(${_bytes} - 1) % 64")
string(REPEAT "\"${_row}\"\n" ${_rows} _text)
string(REPEAT "P" ${_rest} _tail)
file(WRITE ${OUT} "// ${_bytes} bytes: ${MODULE} less ${MINIMAL}.\n"
  "extern \"C\" const char TolvanePadding[${_bytes}] =\n${_text}\"${_tail}\";\n")
