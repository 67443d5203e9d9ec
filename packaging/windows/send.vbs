' Sends one SMS through ZentrovaCOM from VBScript. Register the DLL first
' (register.cmd), put your account details below, then run:
'   cscript //nologo send.vbs 0412345678 "Hello from VBScript"
Option Explicit
Dim sms
If WScript.Arguments.Count < 2 Then
  WScript.Echo "usage: cscript //nologo send.vbs NUMBER MESSAGE"
  WScript.Quit 2
End If
Set sms = CreateObject("ZentrovaCOM.SMSInterface")
sms.Email = "you@example.com"
sms.AccountID = "123456"
sms.Password = "your-password"
sms.DeliveryMethod = 1          ' 0 e-mail, 1 HTTP, 2 HTTP with e-mail as the fallback
' Several numbers: "0412345678;0498765432" or Array("0412345678", "0498765432").
sms.PagoraMessage WScript.Arguments(0), WScript.Arguments(1)
' A failed send raises no error: ResponseText says why, and is empty on success.
If sms.ResponseText = "" Then
  WScript.Echo "Sent."
Else
  WScript.Echo "Not sent: " & sms.ResponseText
  WScript.Quit 1
End If
