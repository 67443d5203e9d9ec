// Sends one SMS through ZentrovaCOM from JScript. Register the DLL first
// (register.cmd), put your account details below, then run:
//   cscript //nologo send.js 0412345678 "Hello from JScript"
if (WScript.Arguments.length < 2) {
  WScript.Echo("usage: cscript //nologo send.js NUMBER MESSAGE");
  WScript.Quit(2);
}
var sms = new ActiveXObject("ZentrovaCOM.SMSInterface");
sms.Email = "you@example.com";
sms.AccountID = "123456";
sms.Password = "your-password";
sms.DeliveryMethod = 1;  // 0 e-mail, 1 HTTP, 2 HTTP with e-mail as the fallback
sms.PagoraMessage(WScript.Arguments(0), WScript.Arguments(1));
// A failed send raises no error: ResponseText says why, and is empty on success.
if (sms.ResponseText === "") {
  WScript.Echo("Sent.");
} else {
  WScript.Echo("Not sent: " + sms.ResponseText);
  WScript.Quit(1);
}
