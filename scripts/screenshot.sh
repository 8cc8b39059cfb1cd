#!/usr/bin/env bash
# Renders the assistant window again (offscreen, by its layout test) and copies the picture
# to docs/assistant.png. The tests themselves never write into the source tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo -- app_test
rm -f "$root/build/screenshots/assistant.png"
QT_QPA_PLATFORM=offscreen VANTRO_MIDI_API=none "$root/build/tests/app_test" \
    --gtest_filter='QtDialogTest.ControlsStandWhereTheTemplatePutsThem' >/dev/null
cp "$root/build/screenshots/assistant.png" "$root/docs/assistant.png"
echo "docs/assistant.png written"
