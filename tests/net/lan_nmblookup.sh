#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs under `netns-lan --hosts 2 --outside`: our responder (netbios_tool, on
# pling_net's codec) holds PLINGHOST<03> on host 1; Samba's nmblookup on host 2
# asks for it by broadcast. Prints key=value lines:
#   responder_address=  host 1's address
#   nmblookup=...       each line nmblookup printed
#   responder=...       each line the responder printed
# Exit status 77 (with a reason) when nmblookup is not installed.
# Needs NETBIOS_TOOL (the tool's path).
set -u
if ! command -v nmblookup >/dev/null 2>&1; then
  echo "SKIP: nmblookup (package samba-common-bin) is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/smb.conf" <<EOF
[global]
  workgroup = PLINGTEST
  interfaces = $NETNS_LAN_IFACE
  bind interfaces only = yes
  lock directory = $work
  state directory = $work
  cache directory = $work
  private dir = $work
EOF
echo "responder_address=$NETNS_LAN_ADDR_1"
ip netns exec "$NETNS_LAN_NS_1" "$NETBIOS_TOOL" respond PLINGHOST 03 "$NETNS_LAN_ADDR_1" \
  --count 3 --seconds 15 >"$work/responder.out" 2>&1 &
responder=$!
for _ in $(seq 1 50); do
  grep -q '^ready' "$work/responder.out" && break
  sleep 0.1
done
ip netns exec "$NETNS_LAN_NS_2" nmblookup -s "$work/smb.conf" -B "$NETNS_LAN_BCAST" 'PLINGHOST#03' \
  2>&1 | sed 's/^/nmblookup=/'
kill "$responder" 2>/dev/null
wait "$responder" 2>/dev/null
sed 's/^/responder=/' "$work/responder.out"
exit 0
