#!/usr/bin/env bash
# Renders the desktop program's windows to PNG files in docs/screenshots/:
# the start window, each page of the options dialog, each shipped skin, the
# tips, the about box, the help, and each page of the ripping wizard over a
# virtual disc of three generated tracks named by a CDDB server on 127.0.0.1. The pictures come from the real windows
# (QWidget::grab) on Qt's offscreen platform, with settings in a temporary
# folder, so no display is needed and nobody's settings are touched.
# Usage: scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target ondalo-screenshots ondalo-data register-components vcdrive
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/disc" docs/screenshots

# The virtual disc: three short tones.
for n in 1 2 3; do
  sox -n -r 44100 -b 16 -c 2 "$work/disc/t$n.wav" synth "$((n + 3))" sine "$((220 * n))" vol 0.3
done
printf '[drive]\nvendor = KIV\nproduct = Virtual CD\ntrack = t1.wav\ntrack = t2.wav\ntrack = t3.wav\n' \
  > "$work/disc/drives.ini"

# A CDDB server for this disc only, on a free port of 127.0.0.1.
cat > "$work/cddb.py" <<'PY'
import http.server, sys
RECORD = ("# xmcd\r\nDTITLE=The Ondalo Trio / Tones for a Wizard\r\nDYEAR=2026\r\nDGENRE=Ambient\r\n"
          "TTITLE0=Low A\r\nTTITLE1=Middle A\r\nTTITLE2=Caf\u00e9 E\r\nEXTD=\r\n")
class Cddb(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if "cmd=cddb+query" in self.path:
            body = "200 misc 0000000a The Ondalo Trio / Tones for a Wizard\r\n"
        elif "cmd=cddb+read" in self.path:
            body = "210 misc 0000000a\r\n" + RECORD + ".\r\n"
        else:
            body = "500 Unrecognized command.\r\n"
        data = body.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=UTF-8")
        self.end_headers()
        self.wfile.write(data)
    def log_message(self, *args):
        pass
httpd = http.server.HTTPServer(("127.0.0.1", 0), Cddb)
print(httpd.server_address[1], flush=True)
httpd.serve_forever()
PY
coproc CDDB { exec python3 "$work/cddb.py"; }
server=$CDDB_PID
read -r port <&"${CDDB[0]}"

ONDALO_CONFIG_DIR="$work/config" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" \
  QT_QPA_PLATFORM=offscreen KIV_SOUND=null \
  KIV_ASPI_LIBRARY="$(cd "$build" && pwd)/lib/vcdrive.so" KIV_VCD_CONFIG="$work/disc/drives.ini" \
  ONDALO_CDDB_SERVER=127.0.0.1 ONDALO_CDDB_PORT="$port" http_proxy= HTTP_PROXY= \
  "$build/bin/ondalo-screenshots" docs/screenshots 2> >(grep -v -e propagateSizeHints -e 'support raise' >&2)
