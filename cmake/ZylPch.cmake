# Precompiled headers for the heavy library headers: GoogleTest's and Qt's headers are most of
# what a test or window source costs to compile, and CI builds everything from nothing twice.
option(ZYL_PCH "Precompile the test framework's and Qt's headers" ON)
# The tests' own code needs no optimising: what they test (the libraries and the programs)
# keeps the build's flags. CI turns this on, to build sooner.
option(ZYL_QUICK_TESTS "Compile the tests' own sources without optimisation" OFF)

function(zyl_quick_tests target)
  if(ZYL_QUICK_TESTS)
    target_compile_options(${target} PRIVATE -O0)
  endif()
endfunction()

# The test programs of the core share one precompiled header: they are built with the same
# flags, so the first one makes it and the others reuse it.
function(zyl_pch_gtest target)
  if(NOT ZYL_PCH)
    return()
  endif()
  get_property(_first GLOBAL PROPERTY ZYL_PCH_GTEST_TARGET)
  if(_first)
    target_precompile_headers(${target} REUSE_FROM ${_first})
  else()
    set_property(GLOBAL PROPERTY ZYL_PCH_GTEST_TARGET ${target})
    target_precompile_headers(${target} PRIVATE
                              <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <memory>)
  endif()
endfunction()

# The widgets most sources of the desktop program use; the window tests add GoogleTest's.
function(zyl_pch_qt target)
  if(NOT ZYL_PCH)
    return()
  endif()
  target_precompile_headers(${target} PRIVATE
    <QApplication> <QDialog> <QDir> <QFile> <QFileDialog> <QHeaderView> <QLabel> <QLineEdit>
    <QMainWindow> <QMdiArea> <QMdiSubWindow> <QMenu> <QMessageBox> <QPainter>
    <QPlainTextEdit> <QPushButton> <QString> <QTableView> <QTimer> <QVBoxLayout> <QWidget>
    <string> <vector> <memory>)
  if(ARGV1 STREQUAL "TESTS")
    target_precompile_headers(${target} PRIVATE <QTest> <gtest/gtest.h> <gmock/gmock.h>)
  endif()
endfunction()
