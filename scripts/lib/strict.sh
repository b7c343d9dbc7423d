# Sourced by every script: stop at the first failing command and say which one and where, so a
# run that ends early never ends silently. A script names what it is doing with `step TEXT`; a
# failure from then on reads "<script>: TEXT failed (status S) at line L: COMMAND", also when the
# command fails inside a function or a subshell.
set -Eeuo pipefail
script_name=${0##*/}
script_name=${script_name%.sh}
current_step=""
step() {
  current_step=$1
}
report_failure() {
  local status=$1 line=$2 command=$BASH_COMMAND file=${BASH_SOURCE[1]:-} where
  # A function that returned its failure: the command is the call, on the line that failed.
  if [[ $command == return* ]] && [ -f "$file" ]; then
    command=$(sed -n "${line}{s/^[[:space:]]*//;p}" "$file")
  fi
  where="line $line"
  [ -z "$file" ] || [ "$file" -ef "$0" ] || where="line $line of ${file##*/}"
  echo "$script_name: ${current_step:+$current_step }failed (status $status) at $where: $command" >&2
}
trap 'report_failure $? $LINENO' ERR
