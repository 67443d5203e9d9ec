' The delivery routes: failover to the secondary server, e-mail through SMTP,
' and e-mail as the fallback of HTTP. Each send carries its own message text.
' Usage: delivery.vbs GATEWAY REFUSING UNREACHABLE MAILBOX REFUSING-MAILBOX
Option Explicit
Dim shell, o, c, args
Sub Check(label, got, want)
  If CStr(got) <> CStr(want) Then WScript.Echo "FAIL " & label & ": [" & got & "], not [" & want & "]"
End Sub
Set args = WScript.Arguments
Dim gateway, refusing, dead, mailbox, badMailbox
gateway = args(0) : refusing = args(1) : dead = args(2) : mailbox = args(3) : badMailbox = args(4)
Set shell = CreateObject("WScript.Shell")
Const kSettings = "HKCU\Software\Zentrova\SMS\3.0\Settings\"
shell.RegWrite kSettings & "DebugGateway", "gateway@sandbox.example", "REG_SZ"

Set o = CreateObject("ZentrovaCOM.SMSInterface")
o.Email = "me@example.com" : o.AccountID = "123456" : o.Password = "secret"
o.SMTPLoginName = "user"
' Primary, secondary, DeliveryMethod, SMTP server, message, ResponseText after.
Dim cases : cases = Array( _
  Array(refusing, gateway, 1, mailbox, "failover from 503", ""), _
  Array(dead, gateway, 1, mailbox, "failover from unreachable", ""), _
  Array(dead, dead, 0, mailbox, "by mail", ""), _
  Array(dead, dead, 2, mailbox, "fallback", ""), _
  Array(dead, dead, 2, badMailbox, "fallback refused", "Error: Could not sent via HTTP or SMTP"))
For Each c In cases
  shell.RegWrite kSettings & "HTTP1", c(0), "REG_SZ"
  shell.RegWrite kSettings & "HTTP2", c(1), "REG_SZ"
  o.DeliveryMethod = c(2) : o.SMTPServer = c(3)
  o.PagoraMessage "0412345678", c(4)
  Check c(4), o.ResponseText, c(5)
Next
WScript.Echo "DONE delivery"
