' One send through the gateway, by whichever bitness of the server this script
' host loads. Usage: side_by_side.vbs GATEWAY MESSAGE NUMBER
Option Explicit
Dim shell, o
Set shell = CreateObject("WScript.Shell")
shell.RegWrite "HKCU\Software\Zentrova\SMS\3.0\Settings\HTTP1", WScript.Arguments(0), "REG_SZ"
Set o = CreateObject("ZentrovaCOM.SMSInterface")
o.Email = "me@example.com" : o.AccountID = "123456" : o.Password = "secret"
o.PagoraMessage WScript.Arguments(2), WScript.Arguments(1)
If o.ResponseText <> "" Then WScript.Echo "FAIL " & WScript.Arguments(1) & ": " & o.ResponseText
WScript.Echo "DONE side_by_side"
