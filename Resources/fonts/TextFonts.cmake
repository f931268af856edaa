# The CJK face of the program's own texts: the system's Noto Sans CJK SC (Debian:
# fonts-noto-cjk, SIL OFL 1.1), Regular and Bold, cut down by subset_texts_font.py to the
# non-ASCII characters of the sources' string literals and the translations, renamed
# "Korvanta Texts CJK", and embedded under :/fonts. The views register it before their first
# font (views/ViewKit.cpp). Rebuilt whenever a source, a translation or the script changes.
#
#   kmb_add_text_fonts(TARGET SOURCES...)   adds the resource to TARGET (an object library)

set(KMB_CJK_FONT_DIR "/usr/share/fonts/opentype/noto" CACHE PATH
    "Where fonts-noto-cjk's NotoSansCJK-Regular.ttc and NotoSansCJK-Bold.ttc are")
find_file(KMB_CJK_REGULAR_COLLECTION NotoSansCJK-Regular.ttc
          HINTS "${KMB_CJK_FONT_DIR}" PATH_SUFFIXES opentype/noto)
find_file(KMB_CJK_BOLD_COLLECTION NotoSansCJK-Bold.ttc
          HINTS "${KMB_CJK_FONT_DIR}" PATH_SUFFIXES opentype/noto)
if(NOT KMB_CJK_REGULAR_COLLECTION OR NOT KMB_CJK_BOLD_COLLECTION)
  message(FATAL_ERROR
    "Noto Sans CJK not found in ${KMB_CJK_FONT_DIR}: the views' Chinese face is cut from "
    "it. Install it (Debian: fonts-noto-cjk) or set KMB_CJK_FONT_DIR.")
endif()

# The distribution's interpreter, where python3-fonttools installs (a python3 earlier on
# PATH may be another one).
find_program(KMB_FONT_PYTHON NAMES python3 HINTS /usr/bin)
execute_process(COMMAND "${KMB_FONT_PYTHON}" -c "import fontTools.subset"
                RESULT_VARIABLE KMB_FONTTOOLS_RESULT OUTPUT_QUIET ERROR_QUIET)
if(NOT KMB_FONTTOOLS_RESULT EQUAL 0)
  message(FATAL_ERROR
    "${KMB_FONT_PYTHON} cannot import fontTools, which makes the views' Chinese face. "
    "Install it (Debian: python3-fonttools) or set KMB_FONT_PYTHON to a python3 that has it.")
endif()

function(kmb_add_text_fonts target)
  set(script "${CMAKE_SOURCE_DIR}/Resources/fonts/subset_texts_font.py")
  set(out "${CMAKE_BINARY_DIR}/Resources/fonts")
  set(texts "")
  foreach(text IN LISTS ARGN)
    get_filename_component(text "${text}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND texts "${text}")
  endforeach()
  set(qrc_files "")
  set(fonts "")
  foreach(style Regular Bold)
    set(font "${out}/KorvantaTextsCJK-${style}.otf")
    string(TOUPPER "${style}" upper)
    set(collection "${KMB_CJK_${upper}_COLLECTION}")
    add_custom_command(
      OUTPUT "${font}"
      COMMAND "${KMB_FONT_PYTHON}" "${script}"
              --collection "${collection}" --face "Noto Sans CJK SC"
              --family "Korvanta Texts CJK" --output "${font}"
              --characters "${out}/characters-${style}.txt" ${texts}
      DEPENDS "${script}" "${collection}" ${texts}
      COMMENT "Cutting the ${style} CJK face down to the program's texts"
      VERBATIM)
    list(APPEND fonts "${font}")
    # Stored as they are, so the views hand Qt the resource's own bytes without a copy.
    string(APPEND qrc_files "    <file alias=\"KorvantaTextsCJK-${style}.otf\" "
           "compression-algorithm=\"none\">${font}</file>\n")
  endforeach()
  file(CONFIGURE OUTPUT "${out}/text_fonts.qrc"
       CONTENT "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/fonts\">\n${qrc_files}  </qresource>\n</RCC>\n")
  set_source_files_properties("${out}/text_fonts.qrc" PROPERTIES SKIP_AUTORCC ON)
  qt_add_resources(compiled "${out}/text_fonts.qrc")
  target_sources(${target} PRIVATE ${compiled})
endfunction()
