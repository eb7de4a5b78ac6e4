# The console face draws MAINDLG from the same template that the resource
# compiler reads for Windows: velmora.rc states each control's text, id,
# place and style once, and this turns one of its DIALOG blocks into a C++
# header for the console, at configure time. Only the statement forms the
# .rc uses are known; any other line inside the block stops the configure.
function(velmora_dialog_template rc_file dialog_name output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${rc_file})
  file(STRINGS ${rc_file} lines)
  set(kind_PUSHBUTTON push_button)
  set(kind_AUTOCHECKBOX check_box)
  set(kind_LTEXT static_text)
  set(kind_GROUPBOX group_box)
  set(kind_ICON icon)
  set(state outside)
  set(controls "")
  set(count 0)
  foreach(line IN LISTS lines)
    if(state STREQUAL "outside")
      if(line MATCHES "^${dialog_name} DIALOG [0-9]+, *[0-9]+, *([0-9]+), *([0-9]+)$")
        set(width ${CMAKE_MATCH_1})
        set(height ${CMAKE_MATCH_2})
        set(state head)
      endif()
    elseif(state STREQUAL "head")
      if(line MATCHES "^CAPTION (\"[^\"]*\")$")
        set(caption ${CMAKE_MATCH_1})
      elseif(line STREQUAL "BEGIN")
        set(state body)
      endif()
    elseif(line STREQUAL "END")
      set(state done)
      break()
    elseif(line MATCHES "^ +([A-Z]+) +(\"[^\"]*\"), *([A-Z_]+), *([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)(, *(.*))?$")
      # Every MATCHES below resets CMAKE_MATCH_*: the fields are kept first.
      set(statement ${CMAKE_MATCH_1})
      set(text ${CMAKE_MATCH_2})
      set(id ${CMAKE_MATCH_3})
      set(place "${CMAKE_MATCH_4}, ${CMAKE_MATCH_5}, ${CMAKE_MATCH_6}, ${CMAKE_MATCH_7}")
      set(style "${CMAKE_MATCH_9}")
      set(kind ${kind_${statement}})
      if(NOT kind)
        message(FATAL_ERROR "${rc_file}: ${dialog_name}: no console form for ${statement}")
      endif()
      if(id STREQUAL "IDC_STATIC")
        set(id 0)
      endif()
      set(disabled false)
      set(tab_stop false)
      if(style MATCHES "WS_DISABLED")
        set(disabled true)
      endif()
      if(style MATCHES "WS_TABSTOP")
        set(tab_stop true)
      endif()
      string(APPEND controls "    {${id}, control_kind::${kind}, ${text}, ${place}, ${disabled}, ${tab_stop}},\n")
      math(EXPR count "${count} + 1")
    elseif(NOT line MATCHES "^ *(//.*)?$")
      message(FATAL_ERROR "${rc_file}: ${dialog_name}: a line the console cannot draw: ${line}")
    endif()
  endforeach()
  if(NOT state STREQUAL "done" OR NOT DEFINED caption)
    message(FATAL_ERROR "${rc_file}: no whole ${dialog_name} DIALOG block with a CAPTION")
  endif()
  string(TOLOWER ${dialog_name} prefix)
  file(CONFIGURE OUTPUT ${output} @ONLY CONTENT
"// Written by CMake from ${dialog_name} in velmora.rc; edit the .rc instead.
#pragma once

#include \"resource.h\"

inline constexpr int ${prefix}_width = ${width};
inline constexpr int ${prefix}_height = ${height};
inline constexpr const char* ${prefix}_caption = ${caption};

inline constexpr int ${prefix}_control_count = ${count};
inline constexpr template_control ${prefix}_controls[${prefix}_control_count] = {
${controls}};
")
endfunction()
