#!/bin/sh
# A scripted pinentry for tests: speaks Assuan on stdin/stdout like the real
# program. Each GETPIN or CONFIRM takes the next line of $FAKE_PINENTRY_SCRIPT:
#   OK          approve a CONFIRM
#   PIN <text>  answer a GETPIN with <text>
#   CANCEL      the user pressed Cancel
#   HANG        never answer (the signer's time-out must end it)
# A line of the wrong kind for the prompt answers an error, so a test that
# expected the other prompt fails. Every prompt is logged to
# $FAKE_PINENTRY_SCRIPT.log as "<GETPIN|CONFIRM> <description>".
script="$FAKE_PINENTRY_SCRIPT"
pos="$script.pos"
log="$script.log"
desc=""
echo "OK Pleased to meet you"
while IFS= read -r line; do
  case "$line" in
    SETDESC\ *)
      desc="${line#SETDESC }"
      echo "OK" ;;
    GETPIN|CONFIRM)
      n=$(cat "$pos" 2>/dev/null || echo 0)
      n=$((n + 1))
      echo "$n" > "$pos"
      answer=$(sed -n "${n}p" "$script")
      echo "$line $desc" >> "$log"
      case "$line:$answer" in
        "GETPIN:PIN "*) echo "D ${answer#PIN }"; echo "OK" ;;
        "CONFIRM:OK") echo "OK" ;;
        *":CANCEL") echo "ERR 83886179 Operation cancelled <Pinentry>" ;;
        *":HANG") exec sleep 600 ;;
        *) echo "ERR 83886081 unexpected $line (script: $answer)" ;;
      esac ;;
    BYE)
      echo "OK closing connection"
      exit 0 ;;
    *)
      echo "OK" ;;
  esac
done
