import time


class ServerTimingMiddleware:
    """Adds `Server-Timing: app;dur=<ms>`: the time Django spent on the request, from routing to
    the rendered body, so that the client can tell it apart from the time on the wire. A
    streaming response writes its body after the headers are gone: it gets no header."""

    def __init__(self, get_response):
        self.get_response = get_response

    def __call__(self, request):
        began = time.perf_counter()
        response = self.get_response(request)
        if hasattr(response, "render") and not getattr(response, "is_rendered", True):
            response.render()
        if not response.streaming:
            elapsed = (time.perf_counter() - began) * 1e3
            response["Server-Timing"] = f"app;dur={elapsed:.3f}"
        return response
