# Reads the line a timing probe prints, "bench name value name value ...", and prints the
# values of the names in `names` (blank-separated), in that order; fails when one is
# missing. Both window benchmarks parse their probe's figures with it.
#   awk -v names="window-shown-ns first-status-ns" -f scripts/bench-probe.awk log
$1 == "bench" {
  for (i = 2; i < NF; i += 2) { value[$i] = $(i + 1) }
}
END {
  count = split(names, wanted, " ")
  line = ""
  for (i = 1; i <= count; i++) {
    if (!(wanted[i] in value)) { exit 1 }
    line = line (i > 1 ? " " : "") value[wanted[i]]
  }
  print line
}
