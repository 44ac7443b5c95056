# Sourced by the runner and package tests: readme_example README prints the
# indented block that follows the line "<!-- runner example -->", unindented. Its
# first line is the command ("> varnel-run ARGS"), the rest is the output.
readme_example() {
  awk '
    /^<!-- runner example -->/ { on = 1; next }
    on && /^    / { print substr($0, 5); seen = 1; next }
    on && seen { exit }
  ' "$1"
}
