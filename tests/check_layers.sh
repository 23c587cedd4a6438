#!/bin/sh
# Fails when a layer includes what it must not: the engine no Qt at all, the application core
# no Qt Widgets (nor Qt GUI): it builds against Qt Core alone; the command line no Qt Widgets;
# the desktop program no engine module: it drives the application core, which drives the engine.
# Inside the engine a folder includes only itself and the folders before it in this order:
# platform, file, security, pages, document, fonts, text, facade.
top=${1:-.}
status=0
widgets='#include\s*[<"](QtWidgets|QtGui|QWidget|QMainWindow|QDialog|QMessageBox|QFileDialog|QApplication|QGuiApplication)'
if grep -rnE '#include\s*[<"]Q|#include\s*[<"]qt' "$top/engine" 2>/dev/null; then
  echo "engine/ includes Qt"; status=1
fi
if grep -rnE "$widgets" "$top/app/core" 2>/dev/null; then
  echo "app/core includes Qt Widgets"; status=1
fi
if grep -rnE "$widgets" "$top/app/cli" 2>/dev/null; then
  echo "app/cli includes Qt Widgets"; status=1
fi
if grep -rnE '#include\s*"(facade|file|security|pages|document|fonts|text|platform)/' "$top/app/gui" 2>/dev/null; then
  echo "app/gui includes the engine: it goes through app/core"; status=1
fi
layers="platform file security pages document fonts text facade"
above=$layers
for layer in $layers; do
  above=${above#"$layer"}; above=${above# }
  [ -n "$above" ] || break
  pattern=$(echo "$above" | tr ' ' '|')
  if grep -rnE "#include\s*\"($pattern)/" "$top/engine/$layer" 2>/dev/null; then
    echo "engine/$layer includes a layer above it ($above)"; status=1
  fi
done
exit $status
