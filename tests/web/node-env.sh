# Sourced by the scripts that drive Chromium: playwright-core installed from the lock file (never
# a browser of its own), and use_builds BUILD WEB_BUILD saying where the page, the unit and the
# CLI are.
web_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
web_root=$(cd "$web_tests/../.." && pwd)
if [[ ! -d $web_tests/node_modules/playwright-core ]]; then
    (cd "$web_tests" &&
        PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --prefer-offline >/dev/null)
fi

use_builds() {
    local build web
    build=$(cd "$1" && pwd)
    web=$(cd "$2" && pwd)
    export VANTRO_SITE="$web/site" VANTRO_UNIT_SIM="$build/src/sim/vantro-unit-sim" \
        VANTRO_CLI="$build/src/cli/vantro-cli" VANTRO_EXAMPLE_HEX="$web_root/examples/vantro-demo.hex"
}
