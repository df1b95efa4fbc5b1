# Read by cpack before it makes each package. Every time stamp in a package
# is the commit's time (or the changelog's date where there is no git), and
# DOS times in a .zip are taken in UTC, so that one commit gives the same
# bytes on every machine. A SOURCE_DATE_EPOCH the user sets wins.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "")
  if(EXISTS "${CPACK_BANKSTITCHER_SOURCE_DIR}/.git")
    execute_process(COMMAND git -C "${CPACK_BANKSTITCHER_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    # The newest changelog entry's date: " -- NAME <MAIL>  Wed, 09 Dec 2026 16:00:00 +0000".
    file(STRINGS "${CPACK_BANKSTITCHER_SOURCE_DIR}/packaging/changelog" trailer
         REGEX "^ -- .*  [A-Z][a-z][a-z], [0-9]+ [A-Z][a-z][a-z] [0-9]+ [0-9:]+ \\+0000$" LIMIT_COUNT 1)
    string(REGEX MATCH "([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+)" _ "${trailer}")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months "${CMAKE_MATCH_2}" month)
    # Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm).
    set(y ${CMAKE_MATCH_3})
    if(month LESS 2)
      math(EXPR y "${y} - 1")
    endif()
    math(EXPR era "${y} / 400")
    math(EXPR yoe "${y} - ${era} * 400")
    math(EXPR mp "(${month} + 10) % 12")
    math(EXPR doy "(153 * ${mp} + 2) / 5 + ${CMAKE_MATCH_1} - 1")
    math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
    math(EXPR epoch "(${era} * 146097 + ${doe} - 719468) * 86400 + ${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
set(ENV{TZ} UTC0)
