#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs under `netns-lan --hosts 2 --outside`: Samba's nmbd holds the name
# service on host 1 as NMBDHOST (workgroup PLINGTEST); from host 2 our own query
# (netbios_tool, on pling_net's codec) asks for NMBDHOST<00> by broadcast until
# nmbd, which first registers its names, answers. Prints key=value lines:
#   nmbd_address=  host 1's address
#   answer=...     what netbios_tool printed for the answer (empty if none came)
# Exit status 77 (with a reason) when nmbd is not installed.
# Needs NETBIOS_TOOL (the tool's path).
set -u
nmbd=$(command -v nmbd || ls /usr/sbin/nmbd 2>/dev/null || true)
if [ -z "$nmbd" ]; then
  echo "SKIP: nmbd (package samba) is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lock" "$work/state" "$work/cache" "$work/pid" "$work/private" "$work/log"
cat >"$work/smb.conf" <<EOF
[global]
  netbios name = NMBDHOST
  workgroup = PLINGTEST
  interfaces = $NETNS_LAN_IFACE
  bind interfaces only = yes
  lock directory = $work/lock
  state directory = $work/state
  cache directory = $work/cache
  pid directory = $work/pid
  private dir = $work/private
  log file = $work/log/nmbd.log
  local master = no
  preferred master = no
  domain master = no
  os level = 0
  wins support = no
  dns proxy = no
  disable netbios = no
EOF
echo "nmbd_address=$NETNS_LAN_ADDR_1"
ip netns exec "$NETNS_LAN_NS_1" "$nmbd" -F --no-process-group --debug-stdout -d 1 \
  -s "$work/smb.conf" >"$work/nmbd.out" 2>&1 &
nmbd_pid=$!

# nmbd answers for its name once it has registered it (a few seconds).
answer=""
for _ in $(seq 1 20); do
  answer=$(ip netns exec "$NETNS_LAN_NS_2" "$NETBIOS_TOOL" query NMBDHOST 00 "$NETNS_LAN_BCAST" \
    --tries 3 --interval-ms 250 --wait-ms 750 | grep '^answer=' | head -n 1)
  [ -n "$answer" ] && break
  kill -0 "$nmbd_pid" 2>/dev/null || break
done
echo "$answer"
[ -n "$answer" ] || { echo "nmbd_output:"; sed 's/^/  /' "$work/nmbd.out"; }
kill "$nmbd_pid" 2>/dev/null
wait "$nmbd_pid" 2>/dev/null
exit 0
