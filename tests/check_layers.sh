#!/bin/sh
# Fails when a layer includes what it must not: the engine no Qt at all, the application core
# no Qt Widgets (nor Qt GUI): it builds against Qt Core alone.
top=${1:-.}
status=0
if grep -rnE '#include\s*[<"]Q|#include\s*[<"]qt' "$top/engine" 2>/dev/null; then
  echo "engine/ includes Qt"; status=1
fi
if grep -rnE '#include\s*[<"](QtWidgets|QtGui|QWidget|QMainWindow|QDialog|QMessageBox|QFileDialog|QApplication|QGuiApplication)' "$top/app/core" 2>/dev/null; then
  echo "app/core includes Qt Widgets"; status=1
fi
exit $status
