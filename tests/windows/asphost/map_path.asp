<%@ Language="VBScript" CodePage=65001 %>
<%
' map_path.asp - Server.MapPath of the query's "path": the physical path, or
' the script error it raised.
Option Explicit
Response.CharSet = "UTF-8"
Dim mapped
On Error Resume Next
mapped = Server.MapPath(Request.QueryString("path"))
If Err.Number <> 0 Then
    Response.Write "error: " & Err.Description
Else
    Response.Write "path: " & mapped
End If
%>
