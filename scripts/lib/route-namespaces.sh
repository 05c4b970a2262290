# Sourced by the scripts that trace a real route: makes three network
# namespaces, terminal -> router -> outside, with documentation addresses
# only (terminal 192.0.2.2, router 192.0.2.1 and 198.51.100.1, outside
# 198.51.100.2), the router forwarding between them.
#   make_route_namespaces <terminal> <router> <outside>
make_route_namespaces() {
  local t=$1 r=$2 o=$3 n
  for n in "$t" "$r" "$o"; do ip netns add "$n"; ip -n "$n" link set lo up; done
  ip -n "$t" link add owt0 type veth peer name owr0 netns "$r"
  ip -n "$o" link add owo0 type veth peer name owr1 netns "$r"
  ip -n "$t" addr add 192.0.2.2/24 dev owt0; ip -n "$t" link set owt0 up
  ip -n "$r" addr add 192.0.2.1/24 dev owr0; ip -n "$r" link set owr0 up
  ip -n "$r" addr add 198.51.100.1/24 dev owr1; ip -n "$r" link set owr1 up
  ip -n "$o" addr add 198.51.100.2/24 dev owo0; ip -n "$o" link set owo0 up
  ip -n "$t" route add default via 192.0.2.1
  ip -n "$o" route add default via 198.51.100.1
  ip netns exec "$r" sysctl -qw net.ipv4.ip_forward=1
}
