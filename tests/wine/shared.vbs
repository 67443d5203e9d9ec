' All objects of a process share one set of settings.
Option Explicit
Dim first, second
Sub Check(label, got, want)
  If CStr(got) <> CStr(want) Then WScript.Echo "FAIL " & label & ": [" & got & "], not [" & want & "]"
End Sub
Set first = CreateObject("ZentrovaCOM.SMSInterface")
first.AccountID = "123456"
Set second = CreateObject("ZentrovaCOM.SMSInterface")
Check "AccountID through the second", second.AccountID, "123456"
second.Email = "you@example.com"
Check "Email through the first", first.Email, "you@example.com"
first.CountryCode = 1000
Check "a refusal seen by the second", second.ResponseText, "Error: Invalid country code"
' Releasing an object resets nothing.
Set first = Nothing
Set first = CreateObject("ZentrovaCOM.SMSInterface")
Check "after a release", first.Email, "you@example.com"
WScript.Echo "DONE shared"
