# Sourced first by every script of the harness and the tests: it stops at the first step that fails,
# and says on the test's output which step that was (file, line, command) and its exit status before
# the script exits, so that no test fails without a word.
set -Eeuo pipefail
trap 'harness_failed_step $? "${BASH_SOURCE[0]##*/}" "$LINENO" "$BASH_COMMAND"' ERR

harness_failed_step() {  # status file line command
  echo "${0##*/}: step failed (exit status $1) at $2 line $3: $4" >&2
}

# Runs a command whose chatter on stderr is not wanted (openssl's progress dots, say), keeping that
# chatter: when the command fails, it is shown on the test's output.
quietly() {
  local log status=0
  log=$(mktemp)
  "$@" 2>"$log" || status=$?
  [ $status = 0 ] || { echo "$1 failed (exit status $status):" >&2; cat "$log" >&2; }
  rm -f "$log"
  return $status
}

# The Windows name of a file, for a Windows program's command line. Call it in an assignment, so that a
# failure stops the script. winepath gets no terminal, as under CTest: where one of its streams is a
# terminal (the guest's console, a person's shell), Wine starts a console host beside it, and the name it
# printed there once could not be opened. A name that is not a drive path is a failed step, said so.
windows_path() {  # unix-path
  local name
  name=$(winepath -w "$1" </dev/null 2>/dev/null)
  [[ $name =~ ^[A-Za-z]:\\[[:print:]]*$ ]] || { echo "winepath gave no Windows name for $1: $(printf %q "$name")" >&2; return 1; }
  printf '%s\n' "$name"
}
