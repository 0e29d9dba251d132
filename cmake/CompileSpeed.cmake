# Build time. lld links in a third of the time ld takes, which counts most for
# the sanitizers' large test programs.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld CORVANE_HAVE_LLD)
if(CORVANE_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# Every test file parses GoogleTest and Qt's headers again; a precompiled
# header parses them once. The first target (the light support library) makes
# one that every other target reuses: a header costs as much as a test file to
# precompile, and GCC only takes a header made with no macro its user lacks,
# which the support library, defining the fewest, guarantees. The two window
# test programs add Qt Quick's headers to a header of their own. A header that
# cannot be used fails the build (-Winvalid-pch) instead of slowing it down
# unseen. (The libraries gain nothing from one: their time goes to the code Qt
# generates and to our own headers.) Tests keep line tables only for debug info: enough for a backtrace
# and the sanitizers' reports. No test declares a QObject, so none needs moc.
function(corvane_speed_up_tests dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "EXECUTABLE" AND NOT type STREQUAL "STATIC_LIBRARY")
      continue()
    endif()
    set_target_properties(${target} PROPERTIES AUTOMOC OFF)
    # GCC 12 warns of out-of-bounds copies inside std::string's own inline
    # code once the standard headers come precompiled (known false positives
    # of -O2's bounds analysis in that release).
    target_compile_options(${target} PRIVATE -g1 -Wno-array-bounds -Wno-stringop-overflow -Winvalid-pch)
    get_target_property(links ${target} LINK_LIBRARIES)
    set(quick FALSE)
    if("Qt6::Quick" IN_LIST links)
      set(quick TRUE)
    elseif(DEFINED common_pch)
      target_precompile_headers(${target} REUSE_FROM ${common_pch})
      continue()
    else()
      set(common_pch ${target})
    endif()
    target_precompile_headers(${target} PRIVATE
      <gtest/gtest.h> <QObject> <QString> <QVariant> <QCoreApplication> <QTemporaryDir>
      <QFile> <QDir> <QJsonObject> <QJsonDocument>
      <algorithm> <atomic> <chrono> <functional> <memory> <optional> <string> <thread> <vector>)
    if(quick)
      target_precompile_headers(${target} PRIVATE <QQuickItem> <QQmlEngine> <QQuickWindow>)
    endif()
  endforeach()
endfunction()
