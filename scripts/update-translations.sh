#!/usr/bin/env bash
# Brings the translation keys the code uses into the two Linguist sources:
# new keys arrive unfinished (fill them in with Linguist or by hand), keys the
# code no longer uses are dropped, existing texts are kept.
set -euo pipefail
cd "$(dirname "$0")/.."
for lang in en_US zh_CN; do
  lupdate -silent -no-obsolete -locations none -target-language "$lang" \
    toolkit forms upgrade utils app ui config -ts "resources/translations/FlashbayUpdate_$lang.ts"
  # The updater shares only the message box's question with the toolkit.
  lupdate -silent -no-obsolete -locations none -target-language "$lang" \
    updater toolkit/ZoMessageBox.h toolkit/ZoMessageBox.cpp \
    -ts "resources/translations/ZoHaldenUpdate_$lang.ts"
done
grep -c 'type="unfinished"' resources/translations/*.ts || true
