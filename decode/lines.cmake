# The files of quorvil-decode that read and write lines: built twice on
# x86-64, for any processor and for processors with AVX2 (see
# quorvil_decode.h).  Shared by the program's build and the fuzz targets'.
set(QV_DECODE_LINES
  split_fields.cpp
  read_record.cpp
  decode_stream.cpp
  decode_line.cpp
  parse_statement.cpp
  write_statements.cpp
  format_value.cpp
  format_number.cpp
  format_binary.cpp
  format_datetime.cpp
  format_interval.cpp
  format_text.cpp
  statement_shape.cpp
)
