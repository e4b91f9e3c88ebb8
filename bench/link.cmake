# The MAC-layer transport against TCP on one veth pair, and discovery of 100 neighbours; run
# through scripts/bench-link.sh, which builds the private namespaces they need.
kestel_bench(link LIBS kestel_core)
