' Every property of a freshly loaded server: its first value, what its setter
' accepts and refuses with which message, and PagoraMessage's checks of the
' settings in their order.
Option Explicit
Dim o, c, before, text, name
Sub Check(label, got, want)
  If CStr(got) <> CStr(want) Then WScript.Echo "FAIL " & label & ": [" & got & "], not [" & want & "]"
End Sub
Set o = CreateObject("ZentrovaCOM.SMSInterface")

Check "Version", o.Version, "Version 1.1"
Check "DeliveryMethod", o.DeliveryMethod, 1
For Each name In Array("ProxyType", "ProxyPort", "CountryCode")
  Check name, Eval("o." & name), 0
Next
For Each name In Array("ProxyAddress", "ProxyUserName", "SMTPServer", "SMTPLoginName", _
                       "SMTPPassword", "Email", "AccountID", "ResponseText")
  Check name, Eval("o." & name), ""
Next

' PagoraMessage stops at the first setting that is missing: a setting, then
' the message it leaves while the next one is missing.
Dim steps : steps = Array( _
  "", "Error: You must supply an email address", _
  "o.Email = ""me@example""", "Error: You must supply an email address", _
  "o.Email = ""me@example.com"" : o.DeliveryMethod = 0 : o.SMTPServer = ""mail""", _
      "Error: You have specified SMTP but no SMTP settings.", _
  "o.DeliveryMethod = 1", "Your must specifify an Account ID", _
  "o.AccountID = ""123456""", "Error: Your must specifify an Password", _
  "o.Password = ""secret""", "Error: There is no message text to send")
Dim i
For i = 0 To UBound(steps) Step 2
  Execute steps(i)
  o.PagoraMessage "0412345678", ""
  Check "after [" & steps(i) & "]", o.ResponseText, steps(i + 1)
Next
' Seven digits make no recipient; nothing is sent.
o.PagoraMessage 1234567, "text"
Check "seven digits", o.ResponseText, "Error: No recipients"

Dim kType, kMethod, kAccount
kType = "Error: Invalid proxy type." & vbLf & vbLf & "Valid types are: " & vbLf & _
        "  0 = No Proxy, 1 = IE Proxy, 2 = Specific Proxy"
kMethod = "Error: Invalid delivery moethod." & vbLf & vbLf & "Valid options are: 0 = SMTP (Email), " & _
          "1 = HTTP (Web) and 2 = HTTP with SMTP fallback."
kAccount = "Error: Invalid Account ID"
' Property, value as a script writes it, the message of a refusal ("" when
' accepted). A refusal leaves the value; an acceptance leaves the message.
Dim cases : cases = Array( _
  Array("ProxyType", "3", kType), Array("ProxyType", "-1", kType), Array("ProxyType", "2", ""), _
  Array("ProxyPort", "-1", "Error: Invalid proxy port"), Array("ProxyPort", "70000", ""), _
  Array("DeliveryMethod", "3", kMethod), Array("DeliveryMethod", "0", ""), _
  Array("CountryCode", "1000", "Error: Invalid country code"), _
  Array("CountryCode", "-1", "Error: Invalid country code"), Array("CountryCode", "61", ""), _
  Array("AccountID", """12345""", ""), Array("AccountID", """1234""", kAccount), _
  Array("AccountID", """1234567""", kAccount), Array("AccountID", """12a45""", kAccount), _
  Array("AccountID", """CI1234567890""", ""), Array("AccountID", """CI12345""", kAccount), _
  Array("AccountID", """CI12345678901""", kAccount), Array("AccountID", """ci123456""", kAccount), _
  Array("AccountID", """CI123456""", ""))
For Each c In cases
  before = Eval("o." & c(0)) : text = o.ResponseText
  Execute "o." & c(0) & " = " & c(1)
  If c(2) = "" Then
    Check c(0) & " = " & c(1), Eval("o." & c(0)), Eval(c(1))
    Check c(0) & " = " & c(1) & " message", o.ResponseText, text
  Else
    Check c(0) & " = " & c(1), Eval("o." & c(0)), before
    Check c(0) & " = " & c(1) & " message", o.ResponseText, c(2)
  End If
Next

' Text properties keep what they are given, the empty text included.
For Each name In Array("ProxyAddress", "ProxyUserName", "SMTPServer", "SMTPLoginName", _
                       "SMTPPassword", "Email")
  Execute "o." & name & " = ""v-" & name & """"
  Check name, Eval("o." & name), "v-" & name
  Execute "o." & name & " = """""
  Check name & " emptied", Eval("o." & name), ""
Next
WScript.Echo "DONE properties"
