' The keys registration writes, with their values: all there after
' regsvr32 ("present"), none of them after regsvr32 /u ("absent").
' Usage: registry.vbs present|absent [DLL PATH]
Option Explicit
Dim shell, want, key, value, got, i
Set shell = CreateObject("WScript.Shell")
want = WScript.Arguments(0)
Const kClass = "HKCR\CLSID\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}\"
Const kLib = "HKCR\TypeLib\{2659F52D-4F8C-474C-B259-428EBFA1D80E}\1.0\"
' Key (a trailing "\" reads its default value), value; "*" takes any value.
Dim keys : keys = Array( _
  "HKCR\ZentrovaCOM.SMSInterface.1\", "SMSInterface Class", _
  "HKCR\ZentrovaCOM.SMSInterface.1\CLSID\", "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", _
  "HKCR\ZentrovaCOM.SMSInterface\", "SMSInterface Class", _
  "HKCR\ZentrovaCOM.SMSInterface\CLSID\", "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", _
  "HKCR\ZentrovaCOM.SMSInterface\CurVer\", "ZentrovaCOM.SMSInterface.1", _
  kClass, "SMSInterface Class", _
  kClass & "ProgID\", "ZentrovaCOM.SMSInterface.1", _
  kClass & "VersionIndependentProgID\", "ZentrovaCOM.SMSInterface", _
  kClass & "InprocServer32\", "*", _
  kClass & "InprocServer32\ThreadingModel", "Apartment", _
  kClass & "TypeLib\", "{2659F52D-4F8C-474C-B259-428EBFA1D80E}", _
  kLib, "ZentrovaCOM 1.0 Type Library", _
  kLib & "409\win64\", "*", _
  "HKCR\Interface\{A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF}\", "ISMSInterface")
For i = 0 To UBound(keys) Step 2
  key = keys(i) : value = keys(i + 1)
  On Error Resume Next
  got = shell.RegRead(key)
  If Err.Number <> 0 Then got = Empty
  On Error GoTo 0
  If want = "present" Then
    If IsEmpty(got) Then
      WScript.Echo "FAIL missing " & key
    ElseIf value <> "*" And got <> value Then
      WScript.Echo "FAIL " & key & " reads [" & got & "], not [" & value & "]"
    End If
  ElseIf Not IsEmpty(got) Then
    WScript.Echo "FAIL left behind: " & key
  End If
Next
' Once unregistered, the class cannot be made.
If want = "absent" Then
  On Error Resume Next
  Dim o : Set o = CreateObject("ZentrovaCOM.SMSInterface")
  If Err.Number = 0 Then WScript.Echo "FAIL the class is still creatable"
  On Error GoTo 0
End If
WScript.Echo "DONE registry"
