' PagoraMessage with each form of recipients a script can write. Each send
' carries its own message text, by which check_log.py finds it in what the
' gateway received. Usage: recipients.vbs GATEWAY (host:port)
Option Explicit
Dim shell, o
Sub Check(label, got, want)
  If CStr(got) <> CStr(want) Then WScript.Echo "FAIL " & label & ": [" & got & "], not [" & want & "]"
End Sub
Set shell = CreateObject("WScript.Shell")
Const kSettings = "HKCU\Software\Zentrova\SMS\3.0\Settings\"
shell.RegWrite kSettings & "HTTP1", WScript.Arguments(0), "REG_SZ"
shell.RegWrite kSettings & "HTTP2", WScript.Arguments(0), "REG_SZ"

Set o = CreateObject("ZentrovaCOM.SMSInterface")
o.Email = "me@example.com" : o.AccountID = "123456" : o.Password = "secret"

Sub Sent(label)
  Check label, o.ResponseText, ""
End Sub
Dim one, list, fixed(2)
one = "0412345002"
list = Array("0412345004", 412345005)
fixed(0) = "0412345006" : fixed(1) = 412345007  ' fixed(2) stays empty and is skipped

o.PagoraMessage "0412345000;0412345001", "literal" : Sent "literal"
o.PagoraMessage one, "variable" : Sent "variable"
o.PagoraMessage ("0412345003"), "parenthesised" : Sent "parenthesised"
o.PagoraMessage Array("0412345008", "0412345009"), "Array()" : Sent "Array()"
o.PagoraMessage list, "array variable" : Sent "array variable"
o.PagoraMessage fixed, "Dim x(2)" : Sent "Dim x(2)"
o.PagoraMessage 412345010, "number" : Sent "number"
' Beyond 32 bits VBScript keeps a number as a Double.
o.PagoraMessage 61412345011, "double" : Sent "double"
Check "double is a Double", TypeName(61412345011), "Double"
WScript.Echo "DONE recipients"
