# The kit as an administrator deploys it, sourced by run.sh once the DLL is
# registered and Pagora.exe and its pagora.ini are in the kit folder: the
# zip's texts with CRLF line ends, Pagora.exe's %ERRORLEVEL% as a batch file
# sees it, HTTP1 under HKLM for services (HKCU winning where both are set),
# the line that says where a failed send went, no error dialog from the
# console program, and the shipped register.cmd, send.vbs and send.js.
#
# Uses run.sh's work, dll, bits, sandbox, gateway, refusing, host, fail and
# start_sandbox: every Windows program (cmd, reg, cscript) is the system's own
# of the run's bitness, started through that bitness's loader, so each
# bitness reads and writes its own view of HKLM.
# The texts as the zip holds them (package.cmake writes them into kit/ of the build tree).
deploy_texts=${ZV_KIT_TEXTS:-$(dirname "$dll")/../kit}
deploy_key='Software\Zentrova\SMS\3.0\Settings'
deploy_started=$SECONDS

for name in README-Windows.txt pagora.ini register.cmd send.vbs send.js send.ps1; do
  awk '!/\r$/ { bad = 1 } END { exit bad }' "$deploy_texts/$name" ||
    fail "$name of the kit has a line that does not end in CR LF"
done
grep -q 'level="asInvoker"' "$work/kit/Pagora.exe" || fail "Pagora.exe carries no asInvoker manifest"

# A sandbox of its own, so that run.sh's log keeps its exact contents: a
# gateway that accepts, and one whose reply code (3000) needs more than 8 bits.
start_sandbox deploy --http 127.0.0.1:0 --http 127.0.0.1:0 --reply "3000 Daily limit reached"
accepting=${listeners[0]} code3000=${listeners[1]} unreachable=127.0.0.1:1

# Pagora.exe's exit statuses through a batch file, each %ERRORLEVEL% echoed on
# a line of its own (cmd expands it only when it reaches that line). Rows:
# HTTP1 under HKCU, under HKLM (- for none), the arguments, the error level.
deploy_rows=(
  "$unreachable|-|0412345301 BatUnreachable|-2"
  "$code3000|-|0412345303 BatCode|3000"
  "-|$accepting|0412345304 MachineWide|0"
  "$unreachable|$accepting|0412345305 UserWins|-2"
  "-|$unreachable|0412345306 MachineUnreachable|-2"
  "-|$gateway|0412345200 PagoraHello|0"             # run.sh's gateway: check_log.py reads it
  "-|$refusing|0412345201 PagoraRefused|10"         # 503: no usable reply
)
{
  printf '@echo off\r\n'
  i=0
  for row in "${deploy_rows[@]}"; do
    IFS='|' read -r user machine args _ <<<"$row"
    printf 'reg delete "HKCU\\%s" /f >nul 2>nul\r\nreg delete "HKLM\\%s" /f >nul 2>nul\r\n' \
      "$deploy_key" "$deploy_key"
    [[ $user == - ]] || printf 'reg add "HKCU\\%s" /v HTTP1 /d %s /f >nul\r\n' "$deploy_key" "$user"
    [[ $machine == - ]] ||
      printf 'reg add "HKLM\\%s" /v HTTP1 /d %s /f >nul\r\n' "$deploy_key" "$machine"
    printf '"%%~dp0Pagora.exe" %s >nul 2>"%%~dp0row%d.err"\r\necho %%ERRORLEVEL%%\r\n' "$args" $((i++))
  done
} >"$work/kit/errorlevels.bat"
# WinINet's trace (on Wine's own standard error, not the redirected one)
# shows every call of InternetErrorDlg; Pagora.exe makes none.
levels=$(cd "$work/kit" && WINEDEBUG=-all,trace+wininet host "$bits" cmd.exe /c errorlevels.bat \
  2>"$work/wininet.trace" | tr -d '\r') || true
mapfile -t got <<<"$levels"
i=0
for row in "${deploy_rows[@]}"; do
  IFS='|' read -r user machine args want <<<"$row"
  if [[ ${got[i]:-none} == "$want" ]]; then
    echo "ok   Pagora.exe ${args:0:40} ($bits-bit; HKCU $user, HKLM $machine): %ERRORLEVEL% $want"
  else
    fail "Pagora.exe ${args:0:40} ($bits-bit; HKCU $user, HKLM $machine): %ERRORLEVEL% ${got[i]:-none}, not $want"
  fi
  ((++i))
done
said() { tr -d '\r' <"$work/kit/row$1.err" | grep -a '^Pagora: ' || true; }
for expect in "0|HKEY_CURRENT_USER" "4|HKEY_LOCAL_MACHINE"; do
  want="Pagora: the send went to the gateway server $unreachable, named by HTTP1 under ${expect#*|}\\$deploy_key"
  [[ $(said "${expect%%|*}") == "$want" ]] ||
    fail "row ${expect%%|*}: standard error said '$(said "${expect%%|*}")', not '$want'"
done
grep -aq InternetErrorDlg "$work/wininet.trace" && fail "Pagora.exe showed WinINet's error dialog"

# The shipped register.cmd beside the DLL (in run.sh's folder with "é" and
# "Ł"), send.vbs and send.js with the account lines filled in, sending
# through HTTP1 under HKLM alone (as a service would).
deploy_dll_folder=$(dirname "$(tr '\\' / <<<"${dlls[$bits]#Z:}")")
cp "$deploy_texts/register.cmd" "$deploy_dll_folder/"
for name in send.vbs send.js; do
  sed -e 's/you@example\.com/me@example.com/' -e 's/your-password/secret/' \
    "$deploy_texts/$name" >"$work/kit/$name"
done
host "$bits" reg.exe add "HKLM\\$deploy_key" /v HTTP1 /d "$accepting" /f >/dev/null 2>&1
out=$(cd "$deploy_dll_folder" && host "$bits" cmd.exe /c register.cmd 2>&1 | tr -d '\r') ||
  fail "register.cmd ($bits-bit) failed: $out"
n=10
for name in send.vbs send.js; do
  # Wine says which session options it was given (as a "fixme", since it
  # keeps none of them): the automation server asks for 2 connect retries.
  out=$(cd "$work/kit" && WINEDEBUG=-all,fixme+wininet host "$bits" cscript.exe //nologo \
    "$name" "04123453$n" "Hello from $name" 2>"$work/$name.wine" | tr -d '\r') || true
  grep -aq 'INTERNET_OPTION_CONNECT_RETRIES 2$' "$work/$name.wine" ||
    fail "$name: the session was not given INTERNET_OPTION_CONNECT_RETRIES 2"
  if [[ $out == Sent. ]]; then
    echo "ok   shipped $name ($bits-bit cscript): Sent."
  else
    fail "shipped $name ($bits-bit cscript) said: $out"
  fi
  ((++n))
done
host "$bits" reg.exe delete "HKLM\\$deploy_key" /f >/dev/null 2>&1 || true

# Each accepted send arrived once; the user's unreachable HTTP1 won over the machine's.
for number in 0412345303 0412345304 0412345310 0412345311; do
  [[ $(grep -c "$number" "$work/deploy.jsonl") == 1 ]] || fail "$number did not arrive once"
done
grep -q 0412345305 "$work/deploy.jsonl" && fail "0412345305 went to HKLM's HTTP1 over HKCU's"
echo "deployment cases ($bits-bit): $((SECONDS - deploy_started)) s"
