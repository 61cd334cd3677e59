#!/usr/bin/env bash
# Download throughput over loopback TLS: a 512 MiB file from tools/content_server.py, fetched
# by WinHttpDownloader under Wine and by curl natively, in alternating rounds. Each round
# writes the file to disk with both (the figures the target is about: WinHttpDownloader
# >= 0.7 x curl), then sends it to the null device with both, which shows how much of the
# time is the network and TLS path rather than the disk. MB/s are 10^6 bytes per second.
# Usage: bench/download_bench.sh [rounds]   (default 2; needs the windows preset configured)
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-2}
size=536870912
build=$PWD/build/windows
cmake --build --preset windows --target kestrivon_download_bench >/dev/null
program=$(find "$build" -name kestrivon_download_bench.exe -print -quit)
[[ -n $program ]] || { echo "kestrivon_download_bench.exe was not built" >&2; exit 1; }

work=$build/download-bench
state=$work/state.json
server=(/usr/bin/python3 tools/content_server.py)
cleanup() {
  "${server[@]}" --stop --state-file "$state" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/root"
head -c "$size" /dev/urandom >"$work/root/package.bin"

# The same test CA as the network tests, so the prefix's root store keeps one.
"${server[@]}" --daemon --state-file "$state" --root "$work/root" \
  --ca-dir "$build/content-server/test-ca" \
  --server-log "$work/server.log" --time-limit 900 >/dev/null
read -r port ca_pem ca_der < <(/usr/bin/python3 -c '
import json, sys
state = json.load(open(sys.argv[1]))
print(state["port"], state["caPem"], state["caDer"])' "$state")
url=https://localhost:$port/package.bin

# curl DESTINATION -> "bytes seconds"
run_curl() {
  curl -sS --cacert "$ca_pem" -o "$1" -w '%{size_download} %{time_total}\n' "$url"
}
# wine DESTINATION -> "bytes seconds progress-calls" (timed inside the process)
run_wine() {
  scripts/wine-run --prefix "$build/wineprefix" "$program" "Z:$ca_der" "$url" "$1"
}
mbps() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }
check() {
  cmp -s "$1" "$work/root/package.bin" || { echo "$2 wrote a different file" >&2; exit 1; }
  rm -f "$1"
}
expect_size() {
  [[ $1 == "$size" ]] || { echo "$2 received $1 bytes, not $size" >&2; exit 1; }
}

declare -A best=([curl_file]=0 [wine_file]=0 [curl_null]=0 [wine_null]=0)
keep_best() { (($2 > best[$1])) && best[$1]=$2 || true; }

for ((round = 1; round <= rounds; round++)); do
  read -r bytes seconds < <(run_curl "$work/curl.bin")
  check "$work/curl.bin" curl
  curl_file=$(mbps "$bytes" "$seconds")

  read -r bytes seconds chunks < <(run_wine "Z:$work/wine.bin")
  check "$work/wine.bin" WinHttpDownloader
  wine_file=$(mbps "$bytes" "$seconds")

  read -r bytes seconds < <(run_curl /dev/null)
  expect_size "$bytes" curl
  curl_null=$(mbps "$bytes" "$seconds")

  read -r bytes seconds chunks < <(run_wine NUL)
  expect_size "$bytes" WinHttpDownloader
  wine_null=$(mbps "$bytes" "$seconds")

  echo "round $round: to disk: curl $curl_file MB/s, WinHttpDownloader $wine_file MB/s;" \
    "to the null device: curl $curl_null MB/s, WinHttpDownloader $wine_null MB/s" \
    "($chunks chunks)"
  keep_best curl_file "$curl_file"
  keep_best wine_file "$wine_file"
  keep_best curl_null "$curl_null"
  keep_best wine_null "$wine_null"
done

ratio=$(awk -v w="${best[wine_file]}" -v c="${best[curl_file]}" 'BEGIN { printf "%.2f", w / c }')
verdict=$(awk -v r="$ratio" 'BEGIN { print (r >= 0.7) ? "meets" : "misses" }')
echo "best of $rounds, 512 MiB to disk: curl ${best[curl_file]} MB/s, WinHttpDownloader under" \
  "Wine ${best[wine_file]} MB/s, ratio $ratio ($verdict the 0.7 target)"
echo "best of $rounds, to the null device: curl ${best[curl_null]} MB/s, WinHttpDownloader" \
  "under Wine ${best[wine_null]} MB/s"
