<%@ Language="VBScript" CodePage=65001 %>
<%
' upload-large.asp - a large upload taken as it arrives: VARO.Upload reads
' the request itself (LoadRequest) and keeps each file in a temporary file of
' its own rather than in memory, so a file of gigabytes costs the server
' little memory. Every field is listed and every file saved under a
' server-made name (a GUID, keeping only a harmless extension) in the page's
' uploads folder. A body or file over the limits below, or a body that ends
' early, is answered with the reason.
Option Explicit
Response.CharSet = "UTF-8"

Dim up, name, value, f, saved, failure

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Set up = Server.CreateObject("VARO.Upload")
    up.CodePage = 65001
    up.MaxParts = 100
    ' Limits in bytes (0 for none): change them here. The web server's own
    ' request limits (README, "Request size limits") must allow as much.
    up.MaxFileBytes = 2 * 1024 ^ 3          ' any one file: 2 GB
    up.MaxBytes = 2 * 1024 ^ 3 + 1024 ^ 2   ' the whole body: such a file and 1 MB of fields
    On Error Resume Next
    up.LoadRequest Request
    If Err.Number <> 0 Then failure = Err.Description
    On Error GoTo 0
    If failure <> "" Then
        Response.Write "<p>" & Server.HTMLEncode(failure) & "</p>"
    Else
        Response.Write "<ul>"
        For Each name In up.Names
            For Each value In up.Values(name)
                Response.Write "<li>" & Server.HTMLEncode(name) & " = " & Server.HTMLEncode(value) & "</li>"
            Next
        Next
        Response.Write "</ul><ul>"
        For Each f In up.Files
            saved = f.SaveUnique(Server.MapPath("uploads"))
            Response.Write "<li>" & Server.HTMLEncode(f.Name) & ": " & Server.HTMLEncode(f.FileName) & ", " & _
                f.Size & " bytes, saved as " & Mid(saved, InStrRev(saved, "\") + 1) & "</li>"
        Next
        Response.Write "</ul>"
    End If
End If
%>
<form method="post" enctype="multipart/form-data" accept-charset="UTF-8">
  <p><input name="title"></p>
  <p><input type="file" name="file"> (2 GB at most)</p>
  <p><input type="submit" value="送信"></p>
</form>
