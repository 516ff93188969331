<%@ Language="VBScript" CodePage=65001 %>
<%
' upload_each.asp - a form taken as it arrives and gone over with For Each,
' as the sample pages do, saving the file named "saved" and leaving the
' others in their temporary files (in the uploads folder's "temp"), which
' last as long as the upload object does.
Option Explicit
Response.CharSet = "UTF-8"
Dim up, f, saved
Set up = Server.CreateObject("VARO.Upload")
up.CodePage = 65001
up.TempFolder = Server.MapPath("uploads/temp")
up.LoadRequest Request
Response.Write "<p>n = " & Server.HTMLEncode(up("n")) & "</p>"
For Each f In up.Files
    Response.Write "<p>" & Server.HTMLEncode(f.Name) & ": " & Server.HTMLEncode(f.FileName) & ", " & f.Size & " bytes"
    If f.Name = "saved" Then
        saved = f.SaveUnique(Server.MapPath("uploads"))
        Response.Write ", saved as " & Mid(saved, InStrRev(saved, "\") + 1)
    End If
    Response.Write "</p>"
Next
%>
