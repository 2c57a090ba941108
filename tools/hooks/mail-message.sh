#!/bin/sh
# Mails a new message's recording as an attachment; for Telvara's [NOTIFY] COMMAND.
#
#   [NOTIFY]
#   COMMAND=/path/to/mail-message.sh owner@example.org
#
# The address is the first argument, else TELVARA_MAIL_TO. Telvara gives the message in
# the environment (TELVARA_FILE, TELVARA_CALLER, TELVARA_LENGTH, TELVARA_TIME); every
# value is quoted here, and the caller text is stripped of control characters before it
# goes into the subject, so no caller identity can run a command or add a mail header.
# Needs `mail` from GNU mailutils and a working mail transfer agent. (Its --content-type
# is for the attachments that follow it; the last one is the text's.)
set -eu

to=${1:-${TELVARA_MAIL_TO:-}}
if [ -z "$to" ]; then
  echo "mail-message.sh: no address: give it as the first argument or in TELVARA_MAIL_TO" >&2
  exit 2
fi
file=${TELVARA_FILE:-}
if [ -z "$file" ] || [ ! -f "$file" ]; then
  echo "mail-message.sh: no recording at TELVARA_FILE='$file'" >&2
  exit 2
fi
if ! command -v mail >/dev/null 2>&1; then
  echo "mail-message.sh: 'mail' is not installed (apt-get install mailutils)" >&2
  exit 2
fi

caller=$(printf '%s' "${TELVARA_CALLER:-}" | tr -d '\000-\037\177')
[ -n "$caller" ] || caller="unknown caller"
length=${TELVARA_LENGTH:-?}
when=${TELVARA_TIME:-}
subject="Telvara: new message from $caller ($length s)"

printf 'A new message came at %s from %s, %s seconds long.\nThe recording is attached: %s\n' \
  "$when" "$caller" "$length" "$(basename -- "$file")" |
  mail -s "$subject" --content-type=audio/wav -A "$file" --content-type=text/plain -- "$to"
